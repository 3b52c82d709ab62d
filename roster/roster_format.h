#pragma once

// A JMRI roster file: one XML file per locomotive, as JMRI writes it (its schema is
// locomotive-config.xsd). What this program reads from it and writes into it:
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <?xml-stylesheet href="/xml/XSLT/locomotive.xsl" type="text/xsl"?>
//   <locomotive-config xmlns:xsi="..." xsi:noNamespaceSchemaLocation="...">
//     <locomotive id="BR 89" dccAddress="3" roadName="DB" roadNumber="89 005" ...>
//       <dateUpdated>...</dateUpdated>          optional
//       <decoder model="..." family="..."/>     required, both attributes too
//       <locoaddress>...</locoaddress>          optional
//       ...                                     function labels and the like
//       <values>
//         <decoderDef><varValue item="..." value="..."/>...</decoderDef>
//         <CVvalue name="29" value="34"/>       one per CV, value 0..255
//         <indexedCVvalue name="..." .../>      CVs behind an index CV
//       </values>
//     </locomotive>
//   </locomotive-config>

#include <cstddef>

#include "safefile/safe_file.h"

namespace qarn2::roster {

inline constexpr char kRootElement[] = "locomotive-config";
inline constexpr char kLocomotiveElement[] = "locomotive";
inline constexpr char kValuesElement[] = "values";
inline constexpr char kCvValueElement[] = "CVvalue";
inline constexpr char kIndexedCvValueElement[] = "indexedCVvalue";
inline constexpr char kSchemaInstanceNamespace[] = "http://www.w3.org/2001/XMLSchema-instance";
inline constexpr char kSchemaLocation[] = "http://jmri.org/xml/schema/locomotive-config.xsd";
inline constexpr char kStylesheet[] = R"(href="/xml/XSLT/locomotive.xsl" type="text/xsl")";

// The CVs a sheet line can name.
inline constexpr int kFirstCv = 1;
inline constexpr int kLastCv = 1024;
inline constexpr int kHighestValue = 255;

// A roster file is a few kilobytes; the same bound as for every file the program reads.
inline constexpr std::size_t kMaxRosterSize = safefile::kMaxFileSize;

// JMRI's locomotive element has about twenty attributes, and a roster file declares
// one namespace (xsi). The XML reader's work grows with the square of the first and
// with every element times the second, so a file far beyond them is refused unread.
inline constexpr int kMaxAttributes = 64;
inline constexpr int kMaxNamespaceDeclarations = 16;

}  // namespace qarn2::roster
