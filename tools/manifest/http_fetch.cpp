#include "http_fetch.h"

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace {

constexpr char kUserAgent[] = "Zerandis-Patcher/1.0";
constexpr long kConnectTimeoutMs = 10000;
constexpr long kStallSeconds = 30;  // the patcher's receive timeout
constexpr long kMaxRedirects = 10;
constexpr int kPollMs = 1000;

struct CertificateFree {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using Certificate = std::unique_ptr<X509, CertificateFree>;

struct EasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};

// One connection's worth of work: an easy handle and the download it runs now.
struct Slot {
    std::unique_ptr<CURL, EasyCleanup> easy{curl_easy_init()};
    Download* download = nullptr;
    bool stopped = false;
    char errorText[CURL_ERROR_SIZE] = {};
};

size_t TakeBody(char* data, size_t size, size_t count, void* context) {
    auto* slot = static_cast<Slot*>(context);
    long status = 0;
    curl_easy_getinfo(slot->easy.get(), CURLINFO_RESPONSE_CODE, &status);
    const size_t bytes = size * count;
    if (slot->download->onBody(status, std::string_view(data, bytes))) return bytes;
    slot->stopped = true;
    return 0;
}

// Adds the private CA to the store libcurl has loaded with the system's.
CURLcode AddPrivateCa(CURL*, void* sslContext, void* certificates) {
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
    for (const Certificate& certificate : *static_cast<std::vector<Certificate>*>(certificates)) {
        X509_STORE_add_cert(store, certificate.get());  // a copy already there is no harm
    }
    ERR_clear_error();
    return CURLE_OK;
}

void SetPatcherOptions(Slot& slot, std::vector<Certificate>& privateCa) {
    CURL* easy = slot.easy.get();
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
    const long tls12Only = CURL_SSLVERSION_MAX_TLSv1_2 + long{CURL_SSLVERSION_TLSv1_2};  // the patcher's only protocol
    curl_easy_setopt(easy, CURLOPT_SSLVERSION, tls12Only);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));  // as WinHTTP asks
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, TakeBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &slot);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &slot);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, slot.errorText);
    if (!privateCa.empty()) {
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, AddPrivateCa);
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, &privateCa);
    }
}

bool Start(CURLM* multi, Slot& slot, Download& download) {
    slot.download = &download;
    slot.stopped = false;
    slot.errorText[0] = '\0';
    curl_easy_setopt(slot.easy.get(), CURLOPT_URL, download.url.c_str());
    return curl_multi_add_handle(multi, slot.easy.get()) == CURLM_OK;
}

void End(Slot& slot, CURLcode result) {
    HttpAnswer answer;
    curl_easy_getinfo(slot.easy.get(), CURLINFO_RESPONSE_CODE, &answer.status);
    answer.complete = result == CURLE_OK;
    if (slot.stopped) {
        answer.error = "body stopped";
    } else if (!answer.complete) {
        answer.error = slot.errorText[0] != '\0' ? slot.errorText : curl_easy_strerror(result);
    }
    slot.download->onEnd(answer);
}

// Ends the finished transfers, giving each freed slot the next download.
// False when libcurl refuses a handle.
bool EndFinished(CURLM* multi, std::vector<Download>& downloads, size_t& next, size_t& active) {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        char* context = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &context);
        Slot& slot = *reinterpret_cast<Slot*>(context);
        const CURLcode result = message->data.result;
        curl_multi_remove_handle(multi, slot.easy.get());
        --active;
        End(slot, result);
        if (next == downloads.size()) continue;
        if (!Start(multi, slot, downloads[next++])) return false;
        ++active;
    }
    return true;
}

}  // namespace

struct HttpClient::State {
    CURLM* multi = nullptr;  // its connection pool outlives each FetchAll
    std::vector<Certificate> privateCa;
};

HttpClient::HttpClient() : state_(std::make_unique<State>()) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    state_->multi = curl_multi_init();
}

HttpClient::~HttpClient() {
    curl_multi_cleanup(state_->multi);
    curl_global_cleanup();
}

bool HttpClient::TrustCa(const std::string& caFile, std::string& error) {
    std::unique_ptr<BIO, decltype(&BIO_free)> file(BIO_new_file(caFile.c_str(), "r"), BIO_free);
    while (file) {
        Certificate certificate(PEM_read_bio_X509(file.get(), nullptr, nullptr, nullptr));
        if (!certificate) break;
        state_->privateCa.push_back(std::move(certificate));
    }
    ERR_clear_error();
    if (!state_->privateCa.empty()) return true;
    error = caFile + (file ? ": no PEM certificate in it" : ": cannot be read");
    return false;
}

bool HttpClient::FetchAll(std::vector<Download>& downloads, size_t jobs, std::string& error) {
    std::vector<std::unique_ptr<Slot>> slots;
    size_t next = 0;
    size_t active = 0;
    bool ok = state_->multi != nullptr;
    while (ok && slots.size() < jobs && next < downloads.size()) {
        slots.push_back(std::make_unique<Slot>());
        SetPatcherOptions(*slots.back(), state_->privateCa);
        ok = slots.back()->easy && Start(state_->multi, *slots.back(), downloads[next++]);
        active += ok ? 1 : 0;
    }
    while (ok && active > 0) {
        int running = 0;
        ok = curl_multi_perform(state_->multi, &running) == CURLM_OK;
        ok = ok && EndFinished(state_->multi, downloads, next, active);
        if (ok && active > 0) ok = curl_multi_poll(state_->multi, nullptr, 0, kPollMs, nullptr) == CURLM_OK;
    }
    for (const auto& slot : slots) curl_multi_remove_handle(state_->multi, slot->easy.get());
    if (!ok) error = "libcurl could not run the transfers";
    return ok;
}

HttpAnswer HttpClient::Fetch(const std::string& url, std::string& body, size_t maxBytes) {
    HttpAnswer answer;
    bool tooLong = false;
    std::vector<Download> one(1);
    one[0].url = url;
    one[0].onBody = [&](long, std::string_view piece) {
        tooLong = body.size() + piece.size() > maxBytes;
        if (!tooLong) body.append(piece);
        return !tooLong;
    };
    one[0].onEnd = [&](const HttpAnswer& end) { answer = end; };
    std::string error;
    if (!FetchAll(one, 1, error)) answer.error = error;
    if (tooLong) answer.error = "longer than " + std::to_string(maxBytes) + " bytes";
    return answer;
}
