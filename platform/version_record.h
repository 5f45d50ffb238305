// The version record that every POSIX program carries in its file, the
// counterpart of the Windows version resource. The text is
//   kVersionRecordTag + "041103a4/ProductVersion=" + version + NUL.
#pragma once

namespace plat {

// Kept out of any string literal the reader holds, so that the reader's own
// search text is never taken for a record.
inline constexpr char kVersionRecordTag[] = "\x01SL-VERSION-RECORD\x02";
inline constexpr char kVersionRecordKey[] = "041103a4/ProductVersion=";

}  // namespace plat
