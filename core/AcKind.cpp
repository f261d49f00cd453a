#include "core/AcKind.h"

#include <limits>
#include <mutex>

#include "core/Log.h"
#include "core/RefData.h"

namespace qmt {

InternedCodes g_airlineIds;
InternedCodes g_modelIds;
std::atomic<bool> g_modelFixesOn{false};

namespace {
const std::string g_emptyCode;
constexpr std::size_t kMaxCodes = std::numeric_limits<std::uint16_t>::max() + 1u;
} // namespace

std::uint64_t gf_kindValue(const AcKind& k)
{
    return static_cast<std::uint64_t>(k.airlineId) | (static_cast<std::uint64_t>(k.operatorId) << 16) |
           (static_cast<std::uint64_t>(k.modelId) << 32) | (static_cast<std::uint64_t>(k.cargo) << 48) |
           (static_cast<std::uint64_t>(k.marker) << 56);
}

AcKind gf_kindFromValue(std::uint64_t v)
{
    AcKind k;
    k.airlineId = static_cast<std::uint16_t>(v & 0xFFFF);
    k.operatorId = static_cast<std::uint16_t>((v >> 16) & 0xFFFF);
    k.modelId = static_cast<std::uint16_t>((v >> 32) & 0xFFFF);
    k.cargo = static_cast<std::uint8_t>((v >> 48) & 0xFF);
    k.marker = static_cast<std::uint8_t>((v >> 56) & 0xFF);
    return k;
}

std::size_t InternedCodes::Fnv1a::operator()(std::string_view s) const noexcept
{
    std::uint64_t h = 14695981039346656037ull;
    for (const char c : s) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    return static_cast<std::size_t>(h);
}

bool InternedCodes::find(std::string_view code, std::uint16_t& id) const
{
    std::shared_lock lock(m_mutex);
    const auto it = m_index.find(code);
    if (it == m_index.end()) return code.empty() ? (id = 0, true) : false;
    id = it->second;
    return true;
}

std::uint16_t InternedCodes::intern(std::string_view code)
{
    std::uint16_t id = 0;
    if (find(code, id)) return id;
    bool full = false;
    {
        std::unique_lock lock(m_mutex);
        if (m_texts.empty()) { // the empty code is always id 0
            m_texts.emplace_back();
            m_index.emplace(std::string_view(m_texts.back()), 0);
        }
        const auto it = m_index.find(code);
        if (it != m_index.end()) return it->second;
        if (m_texts.size() >= kMaxCodes) {
            full = true;
        } else {
            id = static_cast<std::uint16_t>(m_texts.size());
            m_texts.emplace_back(code);
            m_index.emplace(std::string_view(m_texts.back()), id);
        }
    }
    if (full) gf_logWarning("code list full, '{}' not interned", code);
    return id;
}

const std::string& InternedCodes::text(std::uint16_t id) const
{
    std::shared_lock lock(m_mutex);
    if (id >= m_texts.size()) return g_emptyCode;
    return m_texts[id];
}

std::size_t InternedCodes::size() const
{
    std::shared_lock lock(m_mutex);
    return m_texts.size();
}

void InternedCodes::clear()
{
    std::unique_lock lock(m_mutex);
    m_index.clear();
    m_texts.clear();
    m_texts.emplace_back();
    m_index.emplace(std::string_view(m_texts.back()), 0);
}

std::uint16_t gf_airlineId(std::string_view code) { return g_airlineIds.intern(code); }

std::uint16_t gf_modelId(std::string_view code)
{
    std::uint16_t id = 0;
    if (g_modelIds.find(code, id)) return id;
    if (g_modelFixesOn.load()) {
        const std::string fixed = lf_modelFix(code);
        if (!fixed.empty()) return g_modelIds.intern(fixed);
    }
    return g_modelIds.intern(code);
}

const std::string& gf_airlineCode(std::uint16_t id) { return g_airlineIds.text(id); }
const std::string& gf_modelCode(std::uint16_t id) { return g_modelIds.text(id); }

void gf_resetInternedCodes()
{
    g_airlineIds.clear();
    g_modelIds.clear();
    g_airlineIds.intern("ZZZ");
    g_airlineIds.intern("PVT");
}

} // namespace qmt
