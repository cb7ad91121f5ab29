// The version marks read from firmware files: the code file's byte after "version"
// and the FPGA file's date text around its first "/". The files come from the
// program's folder or the resources and may be anything.

#include "fuzzsupport.h"

#include "update/kipupgrader.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray contents = FuzzSupport::bytesOf(data, size);

    const int codeVersion = EMS::KipUpgrader::codeVersionOf(contents);
    if (codeVersion < 0 || codeVersion > 255) {
        std::fprintf(stderr, "code version %d is not a byte\n", codeVersion);
        std::abort();
    }

    // The text is cut at a zero byte and never longer than its 10-byte field.
    const QString fpgaVersion = EMS::KipUpgrader::fpgaVersionOf(contents);
    if (fpgaVersion.size() > 10 || fpgaVersion.contains(QChar(0))) {
        std::fprintf(stderr, "FPGA version text of %d characters\n", int(fpgaVersion.size()));
        std::abort();
    }
    return 0;
}
