#include "base/OperationHost.h"

namespace orolith {

void AppendBanner(OperationHost& host, std::string_view title, std::size_t width) {
  const std::string stars(width, '*');
  host.AppendLine(stars);
  host.AppendLine(std::string(title));
  host.AppendLine(stars);
}

void AppendLines(OperationHost& host, std::string_view text) {
  for (;;) {
    const std::size_t end = text.find("\r\n");
    host.AppendLine(std::string(text.substr(0, end)));
    if (end == std::string_view::npos) return;
    text.remove_prefix(end + 2);
  }
}

}  // namespace orolith
