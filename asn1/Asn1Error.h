// Result of reading BER: why an element could not be taken apart. Callers map
// it to their own error type. Includes nothing.
#pragma once

enum class EAsn1Error : int {
    Ok = 0,
    Truncated,      // the input ended inside the element
    BadEncoding,    // malformed BER or an element out of place
    LimitExceeded,  // a length or nesting bound was hit
    Unsupported     // a form these readers do not take (multi-octet tags)
};
