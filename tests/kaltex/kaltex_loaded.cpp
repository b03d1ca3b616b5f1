// KALTEX32 loaded at run time the way the configurator loads it here.
#include "KaltexApi.h"

#include <QLibrary>

namespace {

struct LoadedLibrary {
    QLibrary library{QStringLiteral(KALTEX32_FILE)};
    KaltexApi api;
    bool complete = false;
    QByteArray error;

    LoadedLibrary()
    {
        if (!library.load()) {
            error = library.errorString().toLocal8Bit();
            return;
        }
        api.GasNameText = reinterpret_cast<KaltexTextFunction>(library.resolve("GasNameText"));
        api.GasUnitText = reinterpret_cast<KaltexTextFunction>(library.resolve("GasUnitText"));
        complete = api.GasNameText && api.GasUnitText;
        if (!complete)
            error = "GasNameText or GasUnitText not exported";
    }
};

const LoadedLibrary &Library()
{
    static const LoadedLibrary library;
    return library;
}

} // namespace

const KaltexApi *KaltexUnderTest()
{
    return Library().complete ? &Library().api : nullptr;
}

const char *KaltexBindError()
{
    return Library().error.constData();
}
