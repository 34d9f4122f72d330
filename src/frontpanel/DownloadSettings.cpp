#include "frontpanel/DownloadSettings.h"

#include <algorithm>
#include <stdexcept>

namespace orolith {
namespace {

bool SameLetters(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

const ArchiveLayoutName& NameOf(ArchiveLayout layout) {
  return *std::find_if(ArchiveLayouts.begin(), ArchiveLayouts.end(),
                       [&](const ArchiveLayoutName& known) { return known.Layout == layout; });
}

}  // namespace

ArchiveLayout ArchiveLayoutNamed(std::string_view name) {
  for (const ArchiveLayoutName& known : ArchiveLayouts) {
    if (SameLetters(name, known.Name)) return known.Layout;
  }
  std::string choices;
  for (const ArchiveLayoutName& known : ArchiveLayouts) {
    choices += (choices.empty() ? "" : ", ") + std::string(known.Name);
  }
  throw std::invalid_argument("unknown tile source '" + std::string(name) + "' (known: " + choices +
                              ")");
}

std::string TileBaseUrl(std::string_view url) {
  std::size_t hostStart = 0;
  for (const std::string_view scheme : {"http://", "https://"}) {
    if (url.size() > scheme.size() && SameLetters(url.substr(0, scheme.size()), scheme)) {
      hostStart = scheme.size();
    }
  }
  if (hostStart == 0 || url[hostStart] == '/') {
    throw std::invalid_argument("'" + AddressShown(url) +
                                "' is not an http:// or https:// address");
  }
  if (url.find_first_of("?#") != std::string_view::npos) {
    throw std::invalid_argument("'" + AddressShown(url) +
                                "' has a query or a fragment, which a base address can't");
  }
  std::string base(url);
  if (base.back() != '/') base += '/';
  return base;
}

std::string ArchiveHostName(std::string_view host) {
  // A path after the host is kept: the archive's folders then lie below it.
  const std::size_t name = host.substr(0, host.find('/')).rfind('@') + 1;  // 0: no credentials
  const bool usable = name < host.size() && host[name] != ':' && host[name] != '/' &&
                      host.find("://") == std::string_view::npos &&
                      std::none_of(host.begin(), host.end(), [](char c) {
                        return c == '?' || c == '#' || static_cast<unsigned char>(c) <= ' ';
                      });
  if (!usable) {
    throw std::invalid_argument("'" + AddressShown(host) +
                                "' is not a host name with an optional port");
  }
  return std::string(host);
}

std::string AddressShown(std::string_view address) {
  // Only "scheme://" before the first '/', '?' or '#' begins the authority later.
  std::size_t start = address.find("://");
  start = start < address.find_first_of("/?#") ? start + 3 : 0;
  const std::size_t end = std::min(address.find_first_of("/?#", start), address.size());
  const std::size_t at = address.substr(start, end - start).rfind('@');
  if (at == std::string_view::npos) return std::string(address);
  return std::string(address.substr(0, start)) + std::string(address.substr(start + at + 1));
}

std::string ArchiveBaseUrl(const ArchiveSource& source) {
  if (source.Layout == ArchiveLayout::SrtmV21 && !source.TileUrl.empty()) return source.TileUrl;
  return "http://" + source.ArchiveHost + "/srtm/version2_1/";
}

ArchiveSource WithLayout(const ArchiveSource& given, ArchiveLayout layout) {
  ArchiveSource chosen = given;
  chosen.Layout = layout;
  if (layout != given.Layout) chosen.TileUrl.clear();
  return chosen;
}

std::string Srtm1BaseUrl(const ArchiveSource& source) {
  if (source.Layout == ArchiveLayout::SrtmV21) return ArchiveBaseUrl(source);
  return source.TileUrl.empty() ? NameOf(source.Layout).DefaultUrl : source.TileUrl;
}

std::optional<ArchiveSource> SecondMirror(const ArchiveSource& source) {
  // A server the user named for ESA's layout is theirs: AWS's public one does not stand in.
  if (source.Layout != ArchiveLayout::Esa) return std::nullopt;
  if (!source.TileUrl.empty() && source.FallbackUrl.empty()) return std::nullopt;
  ArchiveSource second = source;
  second.Layout = ArchiveLayout::Aws;
  second.TileUrl = source.FallbackUrl;
  return second;
}

ArchiveSource Srtm3Source(const ArchiveSource& source) {
  if (source.Layout != ArchiveLayout::Copernicus) return source;
  ArchiveSource mirror = source;
  mirror.Layout = ArchiveSource{}.Layout;
  mirror.TileUrl.clear();
  return mirror;
}

bool IsRetiredArchive(const ArchiveSource& source) {
  return source.Layout == ArchiveLayout::SrtmV21 && source.TileUrl.empty() &&
         SameLetters(source.ArchiveHost, DefaultArchiveHost);
}

}  // namespace orolith
