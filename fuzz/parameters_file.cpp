// parameters.xml of any bytes: every setting stays within its choices and bounds.
#include "FuzzSupport.h"

#include "core/Parameters.h"

#include <cmath>

using namespace qmt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetCore();
    const auto path = g_workPath / "parameters.xml";
    fuzz::writeBytes(path, fuzz::bytesOf(DATA, SIZE));
    gf_loadParameters(path);
    for (const Parameter* p : gf_allParameters()) {
        switch (p->kind()) {
        case ParameterKind::Int: {
            const auto* i = static_cast<const IntParameter*>(p);
            fuzz::require(i->value() >= i->minValue() && i->value() <= i->maxValue(), "int setting out of bounds");
            break;
        }
        case ParameterKind::IntChoice:
            fuzz::require(static_cast<const IntChoiceParameter*>(p)->currentIndex().has_value(), "int not a choice");
            break;
        case ParameterKind::StringChoice:
            fuzz::require(static_cast<const StringChoiceParameter*>(p)->currentIndex().has_value(),
                          "text not a choice");
            break;
        case ParameterKind::FloatChoice: {
            const auto* f = static_cast<const FloatChoiceParameter*>(p);
            fuzz::require(std::isfinite(f->value()) && f->currentIndex().has_value(), "float not a choice");
            break;
        }
        default:
            break;
        }
    }
    return 0;
}
