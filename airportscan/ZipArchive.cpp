#include "airportscan/ZipArchive.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <utility>

namespace qmt {

namespace {

// Deflate at zlib's usual level: the library's own choice, the best level, costs 2.6 times the
// time for 4 % less on airport files, and compressing is most of what zipping them costs.
constexpr int kDeflateLevel = 6;
constexpr int kDeflateMemory = MAX_MEM_LEVEL;
// The general purpose bits that tell the compression option of a deflated entry (1: maximum).
constexpr std::uint16_t kDeflateOptionMask = 0x0006;
constexpr std::uint16_t kDeflateOptionBits = kDeflateLevel > 7 ? 0x0002 : kDeflateLevel < 3 ? 0x0004 : 0;

// The source of an entry compressed ahead: the archive copies its bytes as they are.
struct DeflatedSource {
    const DeflatedEntry* entry;
    std::uint64_t offset = 0;
    std::time_t made = std::time(nullptr);
    zip_error_t error{};
};

zip_int64_t lf_stat(const DeflatedSource& SOURCE, void* DATA)
{
    auto* st = static_cast<zip_stat_t*>(DATA);
    zip_stat_init(st);
    st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC | ZIP_STAT_MTIME |
                ZIP_STAT_ENCRYPTION_METHOD;
    st->size = SOURCE.entry->size;
    st->comp_size = SOURCE.entry->bytes.size();
    st->comp_method = ZIP_CM_DEFLATE;
    st->crc = SOURCE.entry->crc;
    st->mtime = SOURCE.made;
    st->encryption_method = ZIP_EM_NONE;
    return sizeof(zip_stat_t);
}

zip_int64_t lf_deflatedSource(void* STATE, void* DATA, zip_uint64_t LENGTH, zip_source_cmd_t COMMAND)
{
    auto* source = static_cast<DeflatedSource*>(STATE);
    switch (COMMAND) {
    case ZIP_SOURCE_OPEN:
        source->offset = 0;
        return 0;
    case ZIP_SOURCE_READ: {
        const std::uint64_t left = source->entry->bytes.size() - source->offset;
        const std::uint64_t n = std::min<std::uint64_t>(LENGTH, left);
        std::memcpy(DATA, source->entry->bytes.data() + source->offset, n);
        source->offset += n;
        return static_cast<zip_int64_t>(n);
    }
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT:
        return lf_stat(*source, DATA);
    case ZIP_SOURCE_GET_FILE_ATTRIBUTES: {
        auto* attributes = static_cast<zip_file_attributes_t*>(DATA);
        zip_file_attributes_init(attributes);
        attributes->valid = ZIP_FILE_ATTRIBUTES_GENERAL_PURPOSE_BIT_FLAGS;
        attributes->general_purpose_bit_flags = kDeflateOptionBits;
        attributes->general_purpose_bit_mask = kDeflateOptionMask;
        return sizeof(zip_file_attributes_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&source->error, DATA, LENGTH);
    case ZIP_SOURCE_FREE:
        delete source;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_GET_FILE_ATTRIBUTES, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              ZIP_SOURCE_SUPPORTS, -1);
    default:
        zip_error_set(&source->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

} // namespace

DeflatedEntry gf_deflateEntry(const void* DATA, std::uint64_t LENGTH)
{
    // One pass of the stream, whose counts are 32 bits: airport files are far smaller.
    if (LENGTH > (std::uint64_t{1} << 30)) {
        throw std::length_error("too large to compress ahead");
    }
    DeflatedEntry entry;
    entry.size = LENGTH;
    z_stream stream{};
    if (deflateInit2(&stream, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, kDeflateMemory, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    entry.bytes.resize(deflateBound(&stream, static_cast<uLong>(LENGTH)));
    stream.next_in = const_cast<Bytef*>(static_cast<const Bytef*>(DATA));
    stream.avail_in = static_cast<uInt>(LENGTH);
    stream.next_out = entry.bytes.data();
    stream.avail_out = static_cast<uInt>(entry.bytes.size());
    const int status = deflate(&stream, Z_FINISH);
    entry.bytes.resize(stream.total_out);
    deflateEnd(&stream);
    if (status != Z_STREAM_END) {
        throw std::runtime_error("deflate failed");
    }
    entry.crc = static_cast<std::uint32_t>(crc32_z(0, static_cast<const Bytef*>(DATA), static_cast<z_size_t>(LENGTH)));
    return entry;
}

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
    const zip_int64_t index = zip_file_add(m_archive, NAME.c_str(), source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
    if (index < 0) {
        m_error = zip_strerror(m_archive);
        zip_source_free(source);  // not taken over by the archive on failure
        return false;
    }
    if (zip_set_file_compression(m_archive, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, kDeflateLevel) != 0) {
        m_error = zip_strerror(m_archive);
        return false;
    }
    return true;
}

bool ZipArchive::addDeflated(const std::string& NAME, const DeflatedEntry& ENTRY)
{
    if (m_archive == nullptr) {
        m_error = "archive not open";
        return false;
    }
    auto* state = new DeflatedSource{&ENTRY};
    zip_source_t* source = zip_source_function(m_archive, lf_deflatedSource, state);
    if (source == nullptr) {
        delete state;
        m_error = zip_strerror(m_archive);
        return false;
    }
    if (zip_file_add(m_archive, NAME.c_str(), source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE) < 0) {
        m_error = zip_strerror(m_archive);
        zip_source_free(source);  // frees the state with it
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
