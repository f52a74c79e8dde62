//===- signature.h - A package's Authenticode signature, checked ------------===//
//
// A signing step appends a certificate table whose first entry is signed
// data (PKCS #7) over Authenticode's indirect-data content: that names a
// digest algorithm and the image digest, a digest of the whole file but the
// CheckSum field, the certificate table's directory entry and the table
// itself (pe::AuthenticodeDigestRanges). qdpkg checks it with OpenSSL, as
// Windows would before it trusts the package:
//
//   - the image digest, computed anew over the file, must be the signed one;
//   - the PKCS #7 signature over that content must hold, by the signer's
//     certificate that it carries; the signer's subject is shown;
//   - given a file of CA certificates (PEM), the signer's certificate must
//     lead to one of them, be valid now, and allow code signing where it
//     names its uses. Without one the chain is not checked: a signature
//     that holds says only that the package is as its signer signed it.
//
// Not checked: time-stamp countersignatures (certificates are judged at the
// present time), page hashes, and any further or nested signature.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <optional>
#include <string>

#include "package_file.h"
#include "report.h"

namespace qd::pkg {

// Checks the signature of the certificate table at `table`, which lies at
// the end of the file and holds a whole entry. `caFile` is a path in the
// system's text.
void CheckSignature(PackageFile& package, const pe::FileRange& table, const std::optional<std::string>& caFile,
                    Report& report);

}  // namespace qd::pkg
