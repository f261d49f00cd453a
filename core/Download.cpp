#include "core/Download.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include <curl/curl.h>

#include "core/FileCommit.h"
#include "core/Log.h"
#include "core/Text.h"

namespace qmt {
namespace {

std::atomic<long> g_connectTimeout{10};
std::atomic<long> g_totalTimeout{120};

void lf_curlInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The answer's bytes, cut off (and the transfer ended) once they pass the limit.
struct Received {
    std::string bytes;
    std::uint64_t maxBytes = 0;
    bool tooLarge = false;
};

std::size_t lf_writeData(char* data, std::size_t size, std::size_t count, void* user)
{
    auto& received = *static_cast<Received*>(user);
    const std::size_t n = size * count;
    if (received.bytes.size() + n > received.maxBytes) {
        received.tooLarge = true;
        return 0; // ends the transfer with a write error
    }
    received.bytes.append(data, n);
    return n;
}

} // namespace

void gf_setDownloadTimeoutsForTests(long connectSeconds, long totalSeconds)
{
    g_connectTimeout.store(connectSeconds > 0 ? connectSeconds : 10);
    g_totalTimeout.store(totalSeconds > 0 ? totalSeconds : 120);
}

bool gf_download(std::string_view address, const std::filesystem::path& localPath, std::string* FAILURE,
                 std::uint64_t maxBytes)
{
    const auto fail = [&](const std::string& WHY) {
        if (FAILURE != nullptr) {
            *FAILURE = WHY;
        } else {
            gf_logWarning("download of {} failed: {}", address, WHY);
        }
        return false;
    };
    lf_curlInit();
    CURL* curl = curl_easy_init();
    if (!curl) {
        return fail("no curl handle");
    }
    Received received;
    received.maxBytes = maxBytes;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    const std::string url(address);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, lf_writeData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &received);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, g_connectTimeout.load());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, g_totalTimeout.load());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    // An answer that announces more than the limit is refused before its body comes. No
    // compressed encoding is asked for: the file is kept as sent, and a small compressed answer
    // cannot unpack into a huge one.
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBytes));

    const CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);

    if (received.tooLarge || rc == CURLE_FILESIZE_EXCEEDED) {
        return fail(fmt::format("the answer is larger than {} bytes", maxBytes));
    }
    if (rc != CURLE_OK) {
        return fail(errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc));
    }
    if (status >= 400) {
        return fail(fmt::format("HTTP status {}", status));
    }
    // The file is replaced only by a whole answer; a failed download leaves an older copy.
    std::string failure;
    if (!gf_commitFile(received.bytes, localPath, {}, failure)) {
        return fail(failure);
    }
    return true;
}

} // namespace qmt
