#pragma once

#include "frontpanel/DownloadSettings.h"

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace orolith {

// Every way a GET can fail to deliver a 2xx answer: an error status, a redirect (unless the
// limits allow it), a host that can't be resolved, a refused, dropped or stalled connection, a
// certificate that isn't trusted, a body over the size limit. Status is the HTTP status when
// an answer arrived, else 0.
class HttpError : public std::runtime_error {
 public:
  HttpError(const std::string& what, long status) : std::runtime_error(what), status_(status) {}
  long Status() const noexcept { return status_; }

 private:
  long status_;
};

// One blocking GET per client; the whole body is collected in memory.
class HttpClient {
 public:
  explicit HttpClient(const HttpLimits& limits = {});

  // The body of a 2xx answer; throws HttpError on every other outcome.
  std::vector<char> Get(const std::string& url);

 private:
  struct CurlDeleter {
    void operator()(void* curl) const noexcept;
  };
  HttpLimits limits_;
  std::unique_ptr<void, CurlDeleter> curl_;
};

}  // namespace orolith
