#pragma once

#include "frontpanel/DownloadSettings.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace orolith {

// Every way a GET can fail to deliver a 2xx answer: an error status, a redirect (unless the
// limits allow it), a host that can't be resolved, a refused, dropped, stalled or too slow
// connection, a certificate that isn't trusted, a body over the size limit. The text shows the
// address without its credentials. Status is the HTTP status when an answer arrived, else 0.
class HttpError : public std::runtime_error {
 public:
  HttpError(const std::string& what, long status) : std::runtime_error(what), status_(status) {}
  long Status() const noexcept { return status_; }

 private:
  long status_;
};

// One blocking GET per client; the whole body is collected in memory. The connection is made
// directly, whatever proxy the environment names, unless proxy names one ("http://host:port").
class HttpClient {
 public:
  explicit HttpClient(const HttpLimits& limits = {}, std::string proxy = {});

  // The body of a 2xx answer; throws HttpError on every other outcome. whileWaiting, when
  // given, is called every few tens of milliseconds during the transfer; what it throws ends
  // the transfer and comes out of Get.
  std::vector<char> Get(const std::string& url, const std::function<void()>& whileWaiting = {});
  // The User-Agent header of later requests; empty: libcurl sends none.
  void SetUserAgent(std::string userAgent) { userAgent_ = std::move(userAgent); }

 private:
  struct CurlDeleter {
    void operator()(void* curl) const noexcept;
  };
  HttpLimits limits_;
  std::string proxy_;
  std::string userAgent_;
  std::unique_ptr<void, CurlDeleter> curl_;
};

}  // namespace orolith
