// Each floor owns its globals: a global declared in a folder's header is changed only by that
// folder's code, and another floor that needs it changed calls a function of the owner, so that
// a reader of one floor finds every change of its state there. The records of records/ are the
// exception by design: several floors fill them. The check reads the sources as text and knows
// the ways our code changes a global (assignment, increment, a changing member call, a field
// written through it, std::move/swap/erase_if of it); a global reached through a reference taken
// elsewhere is not followed.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::array<std::string_view, 11> kFloors = {
    "core", "platform", "records", "simlink", "feed", "liveries", "stands", "engine", "parking", "airportscan", "app"};

// The floor whose globals every floor may write.
constexpr std::string_view kSharedRecords = "records";

// Globals another folder may write, each with the reason. None today: a new entry needs one.
struct Exception {
    std::string_view global;
    std::string_view writer;
};
constexpr std::array<Exception, 0> kExceptions{};

using Owners = std::map<std::string, std::string, std::less<>>;

bool lf_isIdentChar(char C)
{
    return std::isalnum(static_cast<unsigned char>(C)) != 0 || C == '_';
}

// The line without its // comment and with the insides of its string and character literals blanked.
std::string lf_code(std::string_view LINE)
{
    std::string code;
    char quote = 0;
    for (std::size_t i = 0; i < LINE.size(); ++i) {
        const char c = LINE[i];
        if (quote != 0) {
            if (c == '\\') {
                ++i;
            } else if (c == quote) {
                quote = 0;
                code += c;
            }
            continue;
        }
        if (c == '/' && i + 1 < LINE.size() && LINE[i + 1] == '/') {
            break;
        }
        if (c == '"' || c == '\'') {
            quote = c;
        }
        code += c;
    }
    return code;
}

std::size_t lf_skipSpaces(std::string_view TEXT, std::size_t AT)
{
    while (AT < TEXT.size() && std::isspace(static_cast<unsigned char>(TEXT[AT])) != 0) {
        ++AT;
    }
    return AT;
}

// Past one bracketed group that opens at AT ('[' or '('); AT itself when none opens there.
std::size_t lf_skipGroup(std::string_view TEXT, std::size_t AT)
{
    if (AT >= TEXT.size() || (TEXT[AT] != '[' && TEXT[AT] != '(')) {
        return AT;
    }
    int depth = 0;
    for (std::size_t i = AT; i < TEXT.size(); ++i) {
        if (TEXT[i] == '[' || TEXT[i] == '(') {
            ++depth;
        } else if ((TEXT[i] == ']' || TEXT[i] == ')') && --depth == 0) {
            return i + 1;
        }
    }
    return TEXT.size();
}

bool lf_isAssignment(std::string_view REST)
{
    for (const std::string_view op : {"+=", "-=", "*=", "/=", "|=", "&=", "^=", "<<=", ">>=", "++", "--"}) {
        if (REST.starts_with(op)) {
            return true;
        }
    }
    return REST.starts_with("=") && !REST.starts_with("==");
}

// Member calls that change what they are called on.
bool lf_isChangingCall(std::string_view NAME)
{
    static const std::set<std::string_view> calls = {
        "push_back", "emplace_back", "push_front", "emplace_front", "pop_back", "pop_front", "insert",
        "insert_or_assign", "emplace", "emplace_hint", "try_emplace", "erase", "extract", "clear", "swap",
        "resize", "reserve", "shrink_to_fit", "assign", "splice", "merge", "remove", "remove_if", "unique",
        "sort", "store", "exchange", "fetch_add", "fetch_sub", "fetch_or", "fetch_and", "compare_exchange_weak",
        "compare_exchange_strong", "set", "reset"};
    return calls.contains(NAME);
}

// True when the global that ends at END of CODE is changed there.
bool lf_changedAfter(std::string_view CODE, std::size_t END)
{
    std::size_t at = lf_skipSpaces(CODE, END);
    at = lf_skipSpaces(CODE, lf_skipGroup(CODE, at));
    for (const std::string_view element : {".back()", ".front()"}) {
        if (CODE.substr(at).starts_with(element)) {
            at = lf_skipSpaces(CODE, at + element.size());
        }
    }
    if (lf_isAssignment(CODE.substr(at))) {
        return true;
    }
    const std::string_view rest = CODE.substr(at);
    const std::size_t arrow = rest.starts_with("->") ? 2 : rest.starts_with(".") ? 1 : 0;
    if (arrow == 0) {
        return false;
    }
    at = lf_skipSpaces(CODE, at + arrow);
    const std::size_t nameStart = at;
    while (at < CODE.size() && lf_isIdentChar(CODE[at])) {
        ++at;
    }
    const std::string_view member = CODE.substr(nameStart, at - nameStart);
    at = lf_skipSpaces(CODE, at);
    if (at < CODE.size() && CODE[at] == '(') {
        return lf_isChangingCall(member);
    }
    // A field written through the global (a subscript of it included).
    at = lf_skipSpaces(CODE, lf_skipGroup(CODE, at));
    return lf_isAssignment(CODE.substr(at));
}

// True when the global that starts at BEGIN of CODE is changed by what stands before it.
bool lf_changedBefore(std::string_view CODE, std::size_t BEGIN)
{
    std::string_view before = CODE.substr(0, BEGIN);
    while (!before.empty() && std::isspace(static_cast<unsigned char>(before.back())) != 0) {
        before.remove_suffix(1);
    }
    if (before.ends_with("++") || before.ends_with("--")) {
        return true;
    }
    for (const std::string_view call : {"std::move(", "swap(", "std::erase_if(", "std::erase(", "sort(",
                                        "std::exchange("}) {
        if (before.ends_with(call)) {
            return true;
        }
    }
    return false;
}

// The globals of OWNERS that LINE changes.
std::vector<std::string> lf_changedGlobals(std::string_view LINE, const Owners& OWNERS)
{
    const std::string code = lf_code(LINE);
    std::vector<std::string> changed;
    for (std::size_t i = 0; i + 2 < code.size(); ++i) {
        if (code.compare(i, 2, "g_") != 0 || (i > 0 && lf_isIdentChar(code[i - 1]))) {
            continue;
        }
        std::size_t end = i;
        while (end < code.size() && lf_isIdentChar(code[end])) {
            ++end;
        }
        const std::string name = code.substr(i, end - i);
        if (OWNERS.contains(name) && (lf_changedAfter(code, end) || lf_changedBefore(code, i))) {
            changed.push_back(name);
        }
        i = end;
    }
    return changed;
}

std::vector<std::filesystem::path> lf_sources(std::string_view FOLDER)
{
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(std::filesystem::path(QUILLON_SOURCE_DIR) / FOLDER)) {
        const auto extension = entry.path().extension();
        if (extension == ".h" || extension == ".cpp") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Every global declared "extern ... g_name" in a folder's headers, with that folder.
Owners lf_declaredGlobals()
{
    Owners owners;
    for (const std::string_view folder : kFloors) {
        for (const auto& file : lf_sources(folder)) {
            if (file.extension() != ".h") {
                continue;
            }
            std::ifstream in(file);
            std::string line;
            while (std::getline(in, line)) {
                const std::string code = lf_code(line);
                if (code.rfind("extern ", 0) != 0) {
                    continue;
                }
                // The last g_ name of the line is the declared one.
                const std::size_t blank = code.rfind(" g_");
                if (blank == std::string::npos) {
                    continue;
                }
                const std::size_t name = blank + 1;
                std::size_t end = name;
                while (end < code.size() && lf_isIdentChar(code[end])) {
                    ++end;
                }
                owners.emplace(code.substr(name, end - name), std::string(folder));
            }
        }
    }
    return owners;
}

bool lf_excepted(std::string_view GLOBAL, std::string_view WRITER)
{
    return std::any_of(kExceptions.begin(), kExceptions.end(),
                       [&](const Exception& E) { return E.global == GLOBAL && E.writer == WRITER; });
}

TEST(GlobalWritesTest, TheCheckSeesEveryWayOurCodeChangesAGlobal)
{
    const Owners owners = {{"g_list", "engine"}, {"g_flag", "feed"}, {"g_count", "core"}, {"g_userAc", "records"}};
    struct Case {
        std::string_view line;
        std::vector<std::string> changed;
    };
    const std::vector<Case> cases = {
        {"g_flag = true;", {"g_flag"}},
        {"    g_count += 2;", {"g_count"}},
        {"++g_count;", {"g_count"}},
        {"g_count--;", {"g_count"}},
        {"g_list.push_back(x);", {"g_list"}},
        {"g_list.erase(g_list.begin() + 1);", {"g_list"}},
        {"std::erase_if(g_list, [](int V) { return V == 0; });", {"g_list"}},
        {"std::stable_sort(g_list.begin(), g_list.end());", {"g_list"}},
        {"auto taken = std::move(g_list);", {"g_list"}},
        {"g_list[2].field = 3;", {"g_list"}},
        {"g_list.back().field = 3;", {"g_list"}},
        {"g_userAc.latitude = 52.0;", {"g_userAc"}},
        {"if (g_flag.exchange(false)) {", {"g_flag"}},
        {"g_flag.store(true); g_count = 0;", {"g_flag", "g_count"}},
        {"if (g_flag == true && g_count != 0) {", {}},
        {"const auto n = g_list.size() + g_count.load();", {}},
        {"for (const auto& e : g_list) {", {}},
        {"f(g_list[g_count]);", {}},
        {"// g_flag = true;", {}},
        {"log(\"g_flag = {}\", 1);", {}},
        {"g_flagged = true; my_g_flag = true;", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lf_changedGlobals(c.line, owners), c.changed) << c.line;
    }
}

TEST(GlobalWritesTest, EachGlobalIsChangedOnlyInItsOwnFolder)
{
    const Owners owners = lf_declaredGlobals();
    ASSERT_GT(owners.size(), 150u) << "the declarations of the globals were not found";
    std::set<std::pair<std::string, std::string>> exceptionsUsed;
    for (const std::string_view folder : kFloors) {
        for (const auto& file : lf_sources(folder)) {
            std::ifstream in(file);
            std::string line;
            for (int number = 1; std::getline(in, line); ++number) {
                for (const std::string& global : lf_changedGlobals(line, owners)) {
                    const std::string& owner = owners.find(global)->second;
                    if (owner == folder || owner == kSharedRecords) {
                        continue;
                    }
                    if (lf_excepted(global, folder)) {
                        exceptionsUsed.emplace(global, std::string(folder));
                        continue;
                    }
                    ADD_FAILURE() << file.string() << ":" << number << " changes " << global << " of " << owner
                                  << "/: " << line;
                }
            }
        }
    }
    for (const Exception& e : kExceptions) {
        EXPECT_TRUE(exceptionsUsed.contains({std::string(e.global), std::string(e.writer)}))
            << e.global << " is no longer changed from " << e.writer << "/: drop its exception";
    }
}

} // namespace
