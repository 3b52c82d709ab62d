#pragma once

// A small JMRI folder written for the tests, in the format of JMRI's own files: an
// index with a manufacturer list, a decoder file for the manufacturer the simulated
// decoder answers (13, version 21) with two models, German labels, bit fields of one
// CV, a split address from an include named by JMRI's address, a relative include,
// a variable for one model only; and a second family whose versions the simulated
// decoder does not have.

#include <filesystem>
#include <string>

#include "testsupport/test_files.h"

namespace qarn2::decoderdefs::testing {

inline const char kIndex[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<decoderIndex-config>
  <decoderIndex version="1">
    <mfgList>
      <manufacturer mfg="NMRA" mfgID="999"/>
      <manufacturer mfg="Public-domain and DIY" mfgID="13"/>
      <manufacturer mfg="Lenz" mfgID="99"/>
      <manufacturer mfg="Lenz Elektronik" mfgID="99"/>
    </mfgList>
    <familyList>
      <family name="Bastel" mfg="Public-domain and DIY" file="Bastel.xml"><model model="Ignored"/></family>
    </familyList>
  </decoderIndex>
</decoderIndex-config>
)";

inline const char kBastel[] = R"(<?xml version="1.0" encoding="utf-8"?>
<decoder-config xmlns:xi="http://www.w3.org/2001/XInclude">
  <decoder>
    <family name="Bastel" mfg="Public-domain and DIY" lowVersionID="20" highVersionID="29">
      <model model="Bastel L"/>
      <model model="Bastel S" lowVersionID="21" highVersionID="21"/>
    </family>
    <programming direct="yes" paged="yes" register="yes"/>
    <variables>
      <xi:include href="http://jmri.org/xml/decoders/nmra/address.xml"/>
      <xi:include href="parts/start.xml"/>
      <variable CV="29" mask="XXXXXXXV" item="Direction" default="0">
        <enumVal><enumChoice choice="Normal"/><enumChoice choice="Reversed"/></enumVal>
        <label>Direction</label>
        <label xml:lang="de">Fahrtrichtung</label>
      </variable>
      <variable CV="29" mask="XXXXXXVX" item="Speed Steps" default="1">
        <enumVal><enumChoice choice="14"/><enumChoice choice="28"/></enumVal>
        <label>Speed Steps</label>
        <label xml:lang="de">Fahrstufen</label>
      </variable>
      <variable CV="7" readOnly="yes" item="Decoder Version" default="21">
        <decVal/>
        <label>Version</label>
      </variable>
      <variable CV="8" item="Manufacturer" default="13">
        <decVal/>
        <label>Manufacturer</label>
        <label xml:lang="de">Hersteller</label>
      </variable>
      <variable CV="30" readOnly="yes" item="Error" default="0">
        <decVal/>
        <label>Error</label>
        <label xml:lang="de">Fehler</label>
      </variable>
      <variable CV="47" item="Sound Volume" default="180" include="Bastel L">
        <decVal/>
        <label>Sound volume</label>
        <label xml:lang="de">Lautstärke</label>
      </variable>
      <variable CV="48" item="Smoke" default="3" exclude="Bastel L">
        <hexVal/>
        <label>Smoke ≥ 3</label>
      </variable>
      <variable CV="16.2.257" item="Indexed">
        <decVal/>
      </variable>
    </variables>
  </decoder>
</decoder-config>
)";

inline const char kAddress[] = R"(<?xml version="1.0"?>
<variables>
  <variable label="Primary Address" CV="1" item="Short Address" default="03">
    <shortAddressVal/>
    <label xml:lang="de">Adresse</label>
  </variable>
  <variable label="Extended Address" CV="17,18" item="Long Address">
    <splitVal highCV="17" upperMask="XXVVVVVV"/>
    <label xml:lang="de">Lange Adresse</label>
  </variable>
</variables>
)";

inline const char kStart[] = R"(<?xml version="1.0"?>
<variables>
  <variable CV="2" item="Vstart" default="5">
    <decVal max="255"/>
    <label>Start Volts</label>
    <label xml:lang="de">Anfahrspannung</label>
  </variable>
</variables>
)";

inline const char kOther[] = R"(<?xml version="1.0"?>
<decoder-config>
  <decoder>
    <family name="Alt" mfg="Public-domain and DIY" lowVersionID="1" highVersionID="9">
      <model model="Alt 1"/>
    </family>
    <variables>
      <variable label="Extended Address" CV="17" item="Long Address"><longAddressVal/></variable>
      <variable label="Speed Table" CV="67" item="Speed Table"><speedTableVal entries="3"/></variable>
    </variables>
  </decoder>
</decoder-config>
)";

// Writes the folder into `root` (as JMRI's program folder: root/xml/...); returns it.
inline std::filesystem::path WriteJmriFolder(const std::filesystem::path& root) {
  const std::filesystem::path xml = root / "xml";
  std::filesystem::create_directories(xml / "decoders" / "nmra");
  std::filesystem::create_directories(xml / "decoders" / "parts");
  testsupport::Put(xml / "decoderIndex.xml", kIndex);
  testsupport::Put(xml / "decoders" / "Bastel.xml", kBastel);
  testsupport::Put(xml / "decoders" / "Alt.xml", kOther);
  testsupport::Put(xml / "decoders" / "nmra" / "address.xml", kAddress);
  testsupport::Put(xml / "decoders" / "parts" / "start.xml", kStart);
  return root;
}

}  // namespace qarn2::decoderdefs::testing
