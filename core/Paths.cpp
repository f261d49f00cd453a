#include "core/Paths.h"

#include <system_error>

namespace qmt {

std::filesystem::path g_workPath;
std::filesystem::path g_inputPath;
std::filesystem::path g_outputPath;
std::filesystem::path g_infoPath;
std::filesystem::path g_errorsPath;
std::filesystem::path g_airportsPath;
std::filesystem::path g_mySimaddonPath;
std::filesystem::path g_myThirdpartyPath;
std::filesystem::path g_learnedPath;
std::filesystem::path g_tbloPath;
std::filesystem::path g_tbloZipPath;
std::filesystem::path g_scanLogPath;
std::filesystem::path g_myRegcodesPath;
std::filesystem::path g_origDestPath;
std::filesystem::path g_logFilePath;
std::filesystem::path g_configPath;
std::filesystem::path g_parametersPath;

void gf_setWorkFolder(const std::filesystem::path& workFolder)
{
    g_workPath = workFolder;
    g_outputPath = workFolder / OUTPUT_FOLDER;
    g_infoPath = g_outputPath / INFO_FOLDER;
    g_errorsPath = g_outputPath / ERRORS_FOLDER;
    g_airportsPath = workFolder / AIRPORTS_FOLDER;
    g_mySimaddonPath = g_airportsPath / MY_SIMADDON_FOLDER;
    g_myThirdpartyPath = g_airportsPath / MY_THIRDPARTY_FOLDER;
    g_learnedPath = g_airportsPath / LEARNED_FOLDER;
    g_tbloPath = workFolder / TBLO_FOLDER;
    g_tbloZipPath = g_tbloPath / TBLO_ZIP_FILE;
    g_scanLogPath = g_infoPath / AIRPORTS_SCAN_LOG_FILE;
    g_origDestPath = workFolder / ORIG_DEST_FOLDER;
    g_logFilePath = workFolder / LOG_FILE;
    gf_setInputFolder(workFolder / INPUT_FOLDER);
    gf_setConfigFolder(workFolder);
}

void gf_setConfigFolder(const std::filesystem::path& configFolder)
{
    g_configPath = configFolder;
    g_parametersPath = configFolder / PARAMETERS_FILE;
}

void gf_setInputFolder(const std::filesystem::path& inputFolder)
{
    g_inputPath = inputFolder;
    g_myRegcodesPath = inputFolder / MY_REGCODES_FOLDER;
}

bool gf_createWorkFolders()
{
    bool ok = true;
    for (const auto* p : {&g_workPath, &g_outputPath, &g_infoPath, &g_errorsPath, &g_airportsPath, &g_mySimaddonPath,
                          &g_myThirdpartyPath, &g_learnedPath, &g_tbloPath, &g_origDestPath, &g_configPath}) {
        if (p->empty()) continue;
        std::error_code ec;
        std::filesystem::create_directories(*p, ec);
        if (ec || !std::filesystem::is_directory(*p, ec)) ok = false;
    }
    return ok;
}

} // namespace qmt
