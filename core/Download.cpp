#include "core/Download.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include <curl/curl.h>

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

std::size_t lf_writeData(char* data, std::size_t size, std::size_t count, void* user)
{
    return std::fwrite(data, size, count, static_cast<std::FILE*>(user)) * size;
}

} // namespace

void gf_setDownloadTimeoutsForTests(long connectSeconds, long totalSeconds)
{
    g_connectTimeout.store(connectSeconds > 0 ? connectSeconds : 10);
    g_totalTimeout.store(totalSeconds > 0 ? totalSeconds : 120);
}

bool gf_download(std::string_view address, const std::filesystem::path& localPath, std::string* FAILURE)
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
    // The data go to a temporary file first so that a failed download leaves nothing behind
    // and an older copy of the target stays intact until the new one is complete.
    std::filesystem::path partPath = localPath;
    partPath += ".part";
    std::FILE* file = std::fopen(partPath.c_str(), "wb");
    if (!file) {
        return fail("cannot write " + gf_utf16ToUtf8(partPath));
    }
    CURL* curl = curl_easy_init();
    if (!curl) {
        std::fclose(file);
        std::filesystem::remove(partPath);
        return fail("no curl handle");
    }
    char errorBuffer[CURL_ERROR_SIZE] = {};
    const std::string url(address);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, lf_writeData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, file);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, g_connectTimeout.load());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, g_totalTimeout.load());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "deflate,gzip");

    const CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    const bool written = std::fclose(file) == 0;

    std::string failure;
    if (rc != CURLE_OK) failure = errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc);
    else if (status >= 400) failure = fmt::format("HTTP status {}", status);
    else if (!written) failure = "write error";

    std::error_code ec;
    if (failure.empty()) {
        std::filesystem::rename(partPath, localPath, ec);
        if (ec) failure = fmt::format("cannot move to {}: {}", gf_utf16ToUtf8(localPath), ec.message());
    }
    if (!failure.empty()) {
        std::filesystem::remove(partPath, ec);
        return fail(failure);
    }
    return true;
}

} // namespace qmt
