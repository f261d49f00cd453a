#include "app/Program.h"

#include <iostream>

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto line = qmt::gf_parseCommandLine(args, error);
    if (!line) {
        std::cerr << error << "\n" << qmt::gf_usageText();
        return 2;
    }
    if (line->help) {
        std::cout << qmt::gf_usageText();
        return 0;
    }
    return qmt::gf_quillonMain(*line);
}
