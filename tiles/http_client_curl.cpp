// HttpClient on libcurl's easy interface: one handle per request.
#include <curl/curl.h>

#include <mutex>

#include "http_client.h"

namespace halcyra::tiles {
namespace {

constexpr long kMostRedirects = 5;

struct Transfer {
  const BodySink* sink;
  const std::atomic<bool>* stop;
  bool refused = false;  // the sink stopped it
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  Transfer* transfer = static_cast<Transfer*>(user);
  if (!(*transfer->sink)(data, size * count)) {
    transfer->refused = true;
    return 0;
  }
  return size * count;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<Transfer*>(user)->stop->load() ? 1 : 0;
}

class CurlClient : public HttpClient {
 public:
  explicit CurlClient(std::string userAgent) : userAgent_(std::move(userAgent)) {}

  HttpAnswer Get(const std::string& url, int stallSeconds, const BodySink& sink,
                 const std::atomic<bool>& stop) override {
    HttpAnswer answer;
    CURL* curl = curl_easy_init();
    if (curl == nullptr) {
      answer.error = "cannot start a libcurl transfer";
      return answer;
    }
    Transfer transfer{&sink, &stop};
    char message[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, userAgent_.c_str());
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMostRedirects);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(stallSeconds));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(stallSeconds));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, message);
    CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    answer.status = static_cast<int>(status);
    if (result == CURLE_OK) {
      answer.complete = true;
    } else if (transfer.refused) {
      answer.error = "refused while it arrived";
    } else if (result == CURLE_ABORTED_BY_CALLBACK) {
      answer.error = "stopped";
    } else if (result == CURLE_OPERATION_TIMEDOUT) {
      answer.error = "nothing arrived for " + std::to_string(stallSeconds) + " s";
    } else {
      answer.error = message[0] != '\0' ? message : curl_easy_strerror(result);
    }
    return answer;
  }

 private:
  std::string userAgent_;
};

}  // namespace

std::unique_ptr<HttpClient> MakeHttpClient(const std::string& userAgent, std::string* error) {
  static std::once_flag started;
  static CURLcode global = CURLE_OK;
  std::call_once(started, [] { global = curl_global_init(CURL_GLOBAL_DEFAULT); });
  if (global != CURLE_OK) {
    *error = std::string("libcurl does not start: ") + curl_easy_strerror(global);
    return nullptr;
  }
  return std::make_unique<CurlClient>(userAgent);
}

}  // namespace halcyra::tiles
