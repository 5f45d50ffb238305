// Linked into every POSIX program (not into a library) so that each program
// file carries its own product version.
#include "product_version.h"

extern "C" {
__attribute__((used)) const char sl_version_record[] =
    "\x01SL-VERSION-RECORD\x02"
    "041103a4/ProductVersion=" SL_PRODUCT_VERSION_TEXT;
}
