#pragma once

// Result codes crossing the exported interface. 0 is success, negative values
// are errors, 10001..10003 are login warnings.
enum ResultCode {
    RESULT_OK = 0,
    ERR_SESSION_ALREADY_OPEN = -1001,
    ERR_NO_SESSION = -1002,
    ERR_WRONG_PASSWORD = -1003,
    ERR_EPF_OPEN = -1004,
    ERR_SIGNING_KEY_EXPIRED = -1006,
    ERR_ENCRYPTION_KEY_EXPIRED = -1007,
    ERR_KEYS_EXPIRED = -1008,
    ERR_SIGN = -1009,
    ERR_BAD_SIGNATURE = -1010,
    ERR_UNTRUSTED_SIGNER = -1012,
    ERR_DECOMPRESS = -1017,
    ERR_COMPRESS = -1018,
    ERR_BASE64_ENCODE = -1019,
    ERR_BASE64_DECODE = -1020,
    ERR_SSL_OBJECT = -1021,
    ERR_INI_FILE = -1022,
    ERR_ENTRUST_UNKNOWN = -1023,
    ERR_WINDOWS_UNKNOWN = -1024,
    ERR_USER_CERTIFICATES = -1025,
    ERR_PRIVATE_KEY = -1026,
    ERR_NOT_INITIALISED = -1027,
    ERR_CERT_REVOKED = -1028,
    ERR_CERT_EXPIRED = -1029,
    ERR_FILE_READ = -1030,
    ERR_FILE_WRITE = -1031,
    ERR_NO_MEMORY = -1032,
    ERR_POLICY_CERT_COPY = -1034,
    ERR_CANCELLED = -1036,
    ERR_EPF_READ_ONLY = -1037,
    ERR_EXPORT_CERT = -1038,
    WARN_SIGNING_CERT_RENEWAL = 10001,
    WARN_ENCRYPTION_CERT_RENEWAL = 10002,
    WARN_BOTH_CERTS_RENEWAL = 10003
};

// Spanish message of a result code; "Error desconocido" for unknown values.
// Never fails; the returned text is static cp1252.
const char* ResultCodeMessage(int nCode);
