#pragma once

// A roster file as JMRI writes it for a locomotive whose CVs were read in its
// programmer, with what a hand-edited one may add: a CV given twice, a value out of
// range. Shared by the library's tests and the tool's.

#include <cstddef>
#include <string>
#include <string_view>

namespace qarn2::roster::testing {

// The speed table CV 67..94 as JMRI keeps it, entry 1 first.
inline constexpr int kSampleSpeedTable[28] = {0,   9,   18,  28,  37,  47,  56,  66,  75,  85,
                                              94,  103, 113, 122, 132, 141, 151, 160, 170, 179,
                                              188, 198, 207, 217, 226, 236, 245, 255};

inline std::string SampleRoster() {
  std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<?xml-stylesheet href="/xml/XSLT/locomotive.xsl" type="text/xsl"?>
<locomotive-config xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:noNamespaceSchemaLocation="http://jmri.org/xml/schema/locomotive-config.xsd">
  <locomotive id="Köf II Gleisbau" fileName="Kof_II_Gleisbau.xml" roadNumber="323 447" roadName="DB" mfg="Brawa" owner="Jürgen" model="Köf II" dccAddress="3" comment="Führerstand beleuchtet, Kupplung hinten schwergängig" maxSpeed="100" imageFilePath="" iconFilePath="" URL="" IsShuntingOn="">
    <dateUpdated>2024-03-02T10:15:00Z</dateUpdated>
    <decoder model="LokPilot V4.0" family="ESU LokPilot V4" comment="" />
    <locoaddress>
      <dcclocoaddress number="3" longaddress="no" />
      <number>3</number>
      <protocol>dcc_short</protocol>
    </locoaddress>
    <functionlabels>
      <functionlabel num="0" lockable="true" functionImage="" functionImageSelected="">Stirnlicht</functionlabel>
      <functionlabel num="1" lockable="true" functionImage="" functionImageSelected="">Führerstand</functionlabel>
    </functionlabels>
    <values>
      <decoderDef>
        <varValue item="Primary Address" value="3" />
        <varValue item="Vstart" value="4" />
        <varValue item="Speed Table" value="0,9,18,28,37,47,56,66,75,85,94,103,113,122,132,141,151,160,170,179,188,198,207,217,226,236,245,255" />
      </decoderDef>
      <CVvalue name="1" value="3" />
      <CVvalue name="2" value="4" />
      <CVvalue name="3" value="20" />
      <CVvalue name="5" value="300" />
      <CVvalue name="16.2.257" value="12" />
      <CVvalue name="29" value="6" />
)";
  for (int entry = 0; entry < 28; ++entry) {
    xml += "      <CVvalue name=\"" + std::to_string(67 + entry) + "\" value=\"" +
           std::to_string(kSampleSpeedTable[entry]) + "\" />\n";
  }
  xml += R"(      <CVvalue name="29" value="38" />
      <CVvalue name="8" value="151" />
      <indexedCVvalue name="257.2" piCv="16" piVal="2" siCv="0" siVal="-1" iCv="257" value="12" />
    </values>
  </locomotive>
</locomotive-config>
)";
  return xml;
}

// The sheet it becomes: Windows-1252, CR LF. CV 5 (300), the indexed CVs and the
// second CV 29 are left out.
inline std::string SampleSheet() {
  std::string sheet =
      "*dir\r\n"
      "K\xF6" "f II Gleisbau (DB 323 447)\r\n"
      "1     3 \r\n"
      "2     4 \r\n"
      "3    20 \r\n"
      "8   151 \r\n"
      "29    6 \r\n";
  for (int entry = 0; entry < 28; ++entry) {
    std::string value = std::to_string(kSampleSpeedTable[entry]);
    value.insert(0, 3 - value.size(), ' ');
    sheet += std::to_string(67 + entry) + "  " + value + " \r\n";
  }
  return sheet;
}

// The line of `xml` (from 1) on which `text` first stands; 0 when it is not there.
inline int LineOf(std::string_view xml, std::string_view text) {
  const std::size_t at = xml.find(text);
  if (at == std::string_view::npos) return 0;
  int line = 1;
  for (std::size_t i = 0; i < at; ++i) line += xml[i] == '\n';
  return line;
}

}  // namespace qarn2::roster::testing
