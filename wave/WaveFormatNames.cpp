// The names of the wave format tags that the wave I/O layer reports.
#include <array>

#include "wave/WaveIO.h"

namespace wave {

namespace {

struct FormatName {
  std::uint16_t tag;
  const char* name;
};
constexpr std::array<FormatName, 38> kFormatNames = {{
    {0x0000, "Unknown"},
    {0x0001, "PCM"},
    {0x020C, "PCM 32"},
    {0x0002, "Microsoft ADPCM"},
    {0x0003, "Mediavision's ADPCM"},
    {0x0005, "IBM CVSD"},
    {0x0006, "CCITT A-Law"},
    {0x0007, "CCITT mu-Law"},
    {0x0010, "OKI ADPCM"},
    {0x0011, "IMA ADPCM"},
    {0x0011, "DVI ADPCM"},
    {0x0012, "Mediaspace's ADPCM"},
    {0x0013, "Sierra's ADPCM"},
    {0x0014, "CCITT G.723 ADPCM"},
    {0x0015, "Digisound DIGISTD"},
    {0x0016, "Digisound DIGIFIX"},
    {0x0017, "Dialogic OKI ADPCM"},
    {0x0020, "Yamaha ADPCM"},
    {0x0021, "Sonarc"},
    {0x0022, "DSP Group's Truespeech"},
    {0x0023, "Echo SC1"},
    {0x0024, "Audiofile AF36"},
    {0x0025, "Audio Processing Technology"},
    {0x0026, "Audiofile AF10"},
    {0x0030, "Dolby AC2"},
    {0x0209, "Dolby AC2"},
    {0x0031, "GSM 6.10"},
    {0x0033, "Antex ADPCME"},
    {0x0039, "CS IMA ADPCM"},
    {0x0040, "CCITT G.721 ADPCM"},
    {0x0050, "MPEG 1"},
    {0x0055, "MPEG Layer-3"},
    {0x0200, "Creative's ADPCM"},
    {0x1001, "Olivetti's ADPCM"},
    {0x0204, "CDI-C"},
    {0x0205, "CDI-B"},
    {0x0206, "Antex-DVI-OKI ADPCME"},
    {0xFFFF, "*DEVELOPMENT ONLY TAG*"},
}};

}  // namespace

std::string WaveFormatName(const stream::TWaveFormatEx* format) {
  if (format == nullptr) return "Unknown";
  for (const FormatName& row : kFormatNames) {
    if (row.tag == format->wFormatTag) return row.name;
  }
  return "Unknown";
}

}  // namespace wave
