// libFuzzer entry point: any bytes through the metafile player, as a WMF and
// as an EMF. Whatever it makes of them, it returns (the fuzzer's timeout and
// memory limit catch a loop or an allocation without bound) with no picture
// or one of the size asked for.
#include "core/metafileplayer.h"

#include <QGuiApplication>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

QGuiApplication *application = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Text needs the font database of a GUI application; offscreen keeps
    // it headless.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    application = new QGuiApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QSize shown(97, 61);
    for (const char *format : {"wmf", "emf"}) {
        const QImage image = Inkwell::MetafilePlayer::render(bytes, format, shown);
        if (!image.isNull() && image.size() != shown)
            std::abort();
    }
    return 0;
}
