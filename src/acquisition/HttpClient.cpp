#include "acquisition/HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <new>
#include <string_view>
#include <utility>

namespace orolith {
namespace {

// How long one wait for the network lasts before whileWaiting gets its turn.
constexpr int PollMilliseconds = 50;

void InitialiseCurlOnce() {
  static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (result != CURLE_OK) {
    throw std::runtime_error(std::string("Cannot initialise the HTTP client: ") +
                             curl_easy_strerror(result));
  }
}

// What the write callback needs; an exception must not cross libcurl's C frames, so it is
// parked here and raised again after the transfer.
struct Receiver {
  std::vector<char>* body;
  std::size_t limit;
  bool overLimit = false;
  std::exception_ptr failure;
};

extern "C" std::size_t ReceiveBody(char* data, std::size_t size, std::size_t count, void* context) {
  auto& receiver = *static_cast<Receiver*>(context);
  std::vector<char>& body = *receiver.body;
  const std::size_t bytes = size * count;
  if (bytes > receiver.limit - body.size()) {
    receiver.overLimit = true;
    return 0;
  }
  try {
    const std::size_t needed = body.size() + bytes;
    if (needed > body.capacity()) {
      // Doubling as a vector would, but never past the limit: a body at the limit must not
      // cost twice the limit.
      body.reserve(std::min(receiver.limit, std::max(needed, 2 * body.capacity())));
    }
    body.insert(body.end(), data, data + bytes);
  } catch (...) {
    receiver.failure = std::current_exception();
    return 0;
  }
  return bytes;
}

// libcurl's own low-speed check averages over several seconds, so a stall after a burst is
// noticed late; this one gives up exactly when no byte has moved for the allowed time.
struct StallWatch {
  std::chrono::steady_clock::duration allowed;
  curl_off_t bytesSeen = -1;
  std::chrono::steady_clock::time_point lastProgress = std::chrono::steady_clock::now();
  bool stalled = false;
};

extern "C" int WatchProgress(void* context, curl_off_t /*downloadTotal*/, curl_off_t downloaded,
                             curl_off_t /*uploadTotal*/, curl_off_t uploaded) {
  auto& watch = *static_cast<StallWatch*>(context);
  const auto now = std::chrono::steady_clock::now();
  if (downloaded + uploaded != watch.bytesSeen) {
    watch.bytesSeen = downloaded + uploaded;
    watch.lastProgress = now;
  } else if (now - watch.lastProgress >= watch.allowed) {
    watch.stalled = true;
    return 1;
  }
  return 0;
}

template <typename Value>
void SetOption(CURL* curl, CURLoption option, Value value) {
  const CURLcode result = curl_easy_setopt(curl, option, value);
  if (result != CURLE_OK) {
    throw std::runtime_error(std::string("Cannot set up the HTTP client: ") +
                             curl_easy_strerror(result));
  }
}

bool IsHttps(std::string_view url) {
  constexpr std::string_view scheme = "https://";
  if (url.size() < scheme.size()) return false;
  for (std::size_t i = 0; i < scheme.size(); ++i) {
    const char c = url[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c) != scheme[i]) return false;
  }
  return true;
}

// The certificate bundle the environment names, looked up as curl's own tool does (the
// library leaves that to its programs), so that a private mirror can be trusted without
// turning verification off. Null: the system's store.
const char* CertificateBundle() {
  for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return nullptr;
}

void CheckMulti(CURLMcode result) {
  if (result != CURLM_OK) {
    throw std::runtime_error(std::string("HTTP client failure: ") + curl_multi_strerror(result));
  }
}

struct MultiDeleter {
  void operator()(CURLM* multi) const noexcept { curl_multi_cleanup(multi); }
};

// The transfer set up on curl, run so that whileWaiting gets its turn at least every
// PollMilliseconds; what it throws ends the transfer.
CURLcode Perform(CURL* curl, const std::function<void()>& whileWaiting) {
  const std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
  if (!multi) throw std::bad_alloc();
  CheckMulti(curl_multi_add_handle(multi.get(), curl));
  // The transfer leaves the multi handle before that goes, however this ends.
  struct Detach {
    CURLM* multi;
    CURL* curl;
    ~Detach() { curl_multi_remove_handle(multi, curl); }
  } detach{multi.get(), curl};
  for (;;) {
    int running = 0;
    CheckMulti(curl_multi_perform(multi.get(), &running));
    if (running == 0) break;
    CheckMulti(curl_multi_poll(multi.get(), nullptr, 0, PollMilliseconds, nullptr));
    if (whileWaiting) whileWaiting();
  }
  int left = 0;
  while (const CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
    if (message->msg == CURLMSG_DONE) return message->data.result;
  }
  return CURLE_FAILED_INIT;
}

}  // namespace

void HttpClient::CurlDeleter::operator()(void* curl) const noexcept {
  curl_easy_cleanup(curl);
}

HttpClient::HttpClient(const HttpLimits& limits, std::string proxy)
    : limits_(limits), proxy_(std::move(proxy)) {
  InitialiseCurlOnce();
  curl_.reset(curl_easy_init());
  if (!curl_) throw std::bad_alloc();
}

std::vector<char> HttpClient::Get(const std::string& url,
                                  const std::function<void()>& whileWaiting) {
  CURL* curl = curl_.get();
  std::vector<char> body;
  Receiver receiver{&body, limits_.MaxBodyBytes, false, nullptr};
  StallWatch watch{std::chrono::seconds(limits_.StallSeconds)};
  char errorText[CURL_ERROR_SIZE] = {};
  // The buffers above die with this call; the handle must not keep pointing at them, however
  // the call ends.
  struct Forget {
    CURL* curl;
    ~Forget() {
      curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
      curl_easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);
      curl_easy_setopt(curl, CURLOPT_XFERINFODATA, nullptr);
    }
  } forget{curl};

  SetOption(curl, CURLOPT_URL, url.c_str());
  SetOption(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  SetOption(curl, CURLOPT_USERAGENT, userAgent_.empty() ? nullptr : userAgent_.c_str());
  SetOption(curl, CURLOPT_FOLLOWLOCATION, limits_.MaxRedirects > 0 ? 1L : 0L);
  if (limits_.MaxRedirects > 0) {
    SetOption(curl, CURLOPT_MAXREDIRS, limits_.MaxRedirects);
    SetOption(curl, CURLOPT_REDIR_PROTOCOLS_STR, IsHttps(url) ? "https" : "http,https");
  }
  SetOption(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  SetOption(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  if (const char* bundle = CertificateBundle()) SetOption(curl, CURLOPT_CAINFO, bundle);
  SetOption(curl, CURLOPT_NOSIGNAL, 1L);
  // An empty proxy also turns off the environment's http_proxy and its kin.
  SetOption(curl, CURLOPT_PROXY, proxy_.c_str());
  SetOption(curl, CURLOPT_ERRORBUFFER, errorText);
  SetOption(curl, CURLOPT_WRITEFUNCTION, &ReceiveBody);
  SetOption(curl, CURLOPT_WRITEDATA, static_cast<void*>(&receiver));
  SetOption(curl, CURLOPT_CONNECTTIMEOUT, limits_.ConnectTimeoutSeconds);
  // A server that sends a byte now and then never stalls, but would hold the run for ever.
  SetOption(curl, CURLOPT_LOW_SPEED_LIMIT, limits_.LowSpeedBytesPerSecond);
  SetOption(curl, CURLOPT_LOW_SPEED_TIME, limits_.LowSpeedSeconds);
  SetOption(curl, CURLOPT_NOPROGRESS, 0L);
  SetOption(curl, CURLOPT_XFERINFOFUNCTION, &WatchProgress);
  SetOption(curl, CURLOPT_XFERINFODATA, static_cast<void*>(&watch));
  // Refuses an announced length over the limit before any byte arrives.
  SetOption(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits_.MaxBodyBytes));

  const CURLcode result = Perform(curl, whileWaiting);
  if (receiver.failure) std::rethrow_exception(receiver.failure);

  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  // What the error texts say of the address: never its credentials.
  const std::string shown = AddressShown(url);
  if (receiver.overLimit || result == CURLE_FILESIZE_EXCEEDED) {
    throw HttpError("The answer from " + shown + " is larger than " +
                        std::to_string(limits_.MaxBodyBytes) + " bytes",
                    status);
  }
  if (watch.stalled) {
    throw HttpError(shown + ": no data for " + std::to_string(limits_.StallSeconds) + " seconds",
                    status);
  }
  if (result == CURLE_UNSUPPORTED_PROTOCOL && limits_.MaxRedirects > 0) {
    // libcurl's own text names only the protocol; the address it stopped at is the target.
    const char* target = nullptr;
    curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &target);
    if (target != nullptr && url != target) {
      throw HttpError(shown + ": redirect to " + AddressShown(target) + " refused", status);
    }
  }
  if (result != CURLE_OK) {
    throw HttpError(shown + ": " + (errorText[0] != '\0' ? errorText : curl_easy_strerror(result)),
                    status);
  }
  if (status < 200 || status > 299) {
    throw HttpError(shown + ": HTTP status " + std::to_string(status), status);
  }
  return body;
}

}  // namespace orolith
