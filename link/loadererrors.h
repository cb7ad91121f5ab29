#pragma once

#include <QString>

namespace EMS {

// The result byte of a loader's reply during an FPGA or Optocore module download.
enum LoaderResult : quint8 {
    LoaderAck = 0,
    LoaderPacketLengthError = 1,
    LoaderFileChecksumError = 2,
    LoaderFileSizeError = 3,
    LoaderFlashVerifyError = 4,
};

// The result byte of a firmware loader's reply. The card's FPGA loader and the Optocore
// module's loader answer with the same codes: 0 accepts, the others name what failed.
namespace LoaderErrors {

// The user's text for a result code; "unknown" for a code no loader sends.
QString text(int result);

} // namespace LoaderErrors

} // namespace EMS
