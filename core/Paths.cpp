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
    g_outputPath = workFolder / kOutputFolder;
    g_infoPath = g_outputPath / kInfoFolder;
    g_errorsPath = g_outputPath / kErrorsFolder;
    g_airportsPath = workFolder / kAirportsFolder;
    g_mySimaddonPath = g_airportsPath / kMySimaddonFolder;
    g_myThirdpartyPath = g_airportsPath / kMyThirdpartyFolder;
    g_learnedPath = g_airportsPath / kLearnedFolder;
    g_tbloPath = workFolder / kTbloFolder;
    g_tbloZipPath = g_tbloPath / kTbloZipFile;
    g_scanLogPath = g_infoPath / kAirportsScanLogFile;
    g_origDestPath = workFolder / kOrigDestFolder;
    g_logFilePath = workFolder / kLogFile;
    gf_setInputFolder(workFolder / kInputFolder);
    gf_setConfigFolder(workFolder);
}

void gf_setConfigFolder(const std::filesystem::path& configFolder)
{
    g_configPath = configFolder;
    g_parametersPath = configFolder / kParametersFile;
}

void gf_setInputFolder(const std::filesystem::path& inputFolder)
{
    g_inputPath = inputFolder;
    g_myRegcodesPath = inputFolder / kMyRegcodesFolder;
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
