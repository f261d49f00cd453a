#include "airportscan/ZipArchive.h"

#include <zip.h>

#include <utility>

namespace qmt {

ZipArchive::ZipArchive(std::string PATH) : m_path(std::move(PATH)) {}

ZipArchive::~ZipArchive()
{
    if (m_archive != nullptr) {
        zip_discard(m_archive);
    }
}

bool ZipArchive::open(OpenMode MODE)
{
    if (m_archive != nullptr) {
        return true;
    }
    int flags = 0;
    switch (MODE) {
    case OpenMode::New:
        flags = ZIP_CREATE | ZIP_TRUNCATE;
        break;
    }
    int code = 0;
    m_archive = zip_open(m_path.c_str(), flags, &code);
    if (m_archive == nullptr) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        m_error = zip_error_strerror(&error);
        zip_error_fini(&error);
        return false;
    }
    m_error.clear();
    return true;
}

bool ZipArchive::addData(const std::string& NAME, const void* DATA, std::uint64_t LENGTH)
{
    if (m_archive == nullptr) {
        m_error = "archive not open";
        return false;
    }
    zip_source_t* source = zip_source_buffer(m_archive, DATA, LENGTH, 0);
    if (source == nullptr) {
        m_error = zip_strerror(m_archive);
        return false;
    }
    if (zip_file_add(m_archive, NAME.c_str(), source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE) < 0) {
        m_error = zip_strerror(m_archive);
        zip_source_free(source);  // not taken over by the archive on failure
        return false;
    }
    return true;
}

bool ZipArchive::close()
{
    if (m_archive == nullptr) {
        return false;
    }
    if (zip_close(m_archive) != 0) {
        m_error = zip_strerror(m_archive);
        zip_discard(m_archive);
        m_archive = nullptr;
        return false;
    }
    m_archive = nullptr;
    return true;
}

} // namespace qmt
