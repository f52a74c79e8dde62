//===- signature.cpp - A package's Authenticode signature, checked ----------===//
//
// Every byte of the table is hostile: its DER is parsed by OpenSSL within
// the length its entry gives, and the content's own structure is walked
// with bounds from each header.
//
//===----------------------------------------------------------------------===//
#include "signature.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "text/code_page.h"

namespace qd::pkg {
namespace {

// The first entry's certificate type: signed data (PKCS #7).
constexpr std::uint16_t SignedDataType = 2;
constexpr std::size_t EntryHeaderSize = 8;
// A signature is a few kilobytes; one larger than this is not read.
constexpr std::size_t MaxSignedData = std::size_t{1} << 20;
constexpr const char* IndirectDataOid = "1.3.6.1.4.1.311.2.1.4";

template <auto Free>
struct Freer {
  template <typename T>
  void operator()(T* object) const {
    Free(object);
  }
};
template <typename T, auto Free>
using Owned = std::unique_ptr<T, Freer<Free>>;

void FreeCertificates(STACK_OF(X509)* certificates) { sk_X509_free(certificates); }

// What OpenSSL last reported, in its words; the queue is emptied.
std::string OpensslError() {
  std::string reason = "no reason given";
  if (const unsigned long code = ERR_peek_last_error(); code != 0)
    if (const char* text = ERR_reason_error_string(code)) reason = text;
  ERR_clear_error();
  return reason;
}

std::string HexBytes(const unsigned char* bytes, std::size_t count) {
  static constexpr char Digits[] = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < count; ++i) {
    hex += Digits[bytes[i] >> 4];
    hex += Digits[bytes[i] & 0xF];
  }
  return hex;
}

// A certificate's subject, "CN=...,O=...", in the code page, safe to print.
std::string Subject(X509* certificate) {
  Owned<BIO, BIO_free> out(BIO_new(BIO_s_mem()));
  if (!out || X509_NAME_print_ex(out.get(), X509_get_subject_name(certificate), 0,
                                 XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0)
    return "(a subject that cannot be shown)";
  char* data = nullptr;
  const long size = BIO_get_mem_data(out.get(), &data);
  return Printable(text::AnsiFromUtf8(std::string_view(data, static_cast<std::size_t>(size))));
}

// The image digest computed over the file's stretches; empty when the file
// cannot be read.
std::vector<unsigned char> ImageDigest(PackageFile& package, const std::vector<pe::FileRange>& ranges,
                                       const EVP_MD* algorithm) {
  Owned<EVP_MD_CTX, EVP_MD_CTX_free> context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), algorithm, nullptr) != 1) return {};
  std::vector<std::uint8_t> chunk(std::size_t{1} << 16);
  for (const pe::FileRange& range : ranges) {
    for (std::uint64_t done = 0; done < range.size;) {
      const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), range.size - done));
      const std::size_t got = ReadAt(package, range.offset + done, std::span(chunk).first(want));
      if (got != want || EVP_DigestUpdate(context.get(), chunk.data(), got) != 1) return {};
      done += got;
    }
  }
  std::vector<unsigned char> digest(EVP_MAX_MD_SIZE);
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &size) != 1) return {};
  digest.resize(size);
  return digest;
}

// The signed content of Authenticode's indirect data: SEQUENCE { data,
// messageDigest DigestInfo }. The signature covers the sequence's contents,
// without its own tag and length.
struct IndirectData {
  const unsigned char* contents = nullptr;
  long contentsSize = 0;
  Owned<X509_SIG, X509_SIG_free> digestInfo;
};

[[nodiscard]] std::optional<IndirectData> ReadIndirectData(PKCS7* signedData) {
  const PKCS7* content = signedData->d.sign->contents;
  const Owned<ASN1_OBJECT, ASN1_OBJECT_free> indirect(OBJ_txt2obj(IndirectDataOid, 1));
  if (!content || !content->type || !indirect || OBJ_cmp(content->type, indirect.get()) != 0 ||
      !content->d.other || content->d.other->type != V_ASN1_SEQUENCE || !content->d.other->value.sequence)
    return std::nullopt;
  const ASN1_STRING* sequence = content->d.other->value.sequence;
  const unsigned char* at = ASN1_STRING_get0_data(sequence);
  const long size = ASN1_STRING_length(sequence);
  long length = 0;
  int tag = 0;
  int objectClass = 0;
  const unsigned char* contents = at;
  if ((ASN1_get_object(&contents, &length, &tag, &objectClass, size) & 0x80) != 0 || tag != V_ASN1_SEQUENCE ||
      length > size - (contents - at))
    return std::nullopt;
  IndirectData data;
  data.contents = contents;
  data.contentsSize = length;
  // Past the first element, the data, to the digest.
  const unsigned char* next = contents;
  long dataLength = 0;
  if ((ASN1_get_object(&next, &dataLength, &tag, &objectClass, length) & 0x80) != 0 ||
      dataLength > length - (next - contents))
    return std::nullopt;
  next += dataLength;
  data.digestInfo.reset(d2i_X509_SIG(nullptr, &next, length - (next - contents)));
  if (!data.digestInfo) return std::nullopt;
  return data;
}

// The signer's certificate against the CA file: its chain, its validity now,
// and its uses.
void CheckChain(X509* signer, STACK_OF(X509)* carried, const std::string& caFile, Report& report) {
  const std::string ca = Printable(platform::TextFromSystem(caFile));
  Owned<X509_STORE, X509_STORE_free> store(X509_STORE_new());
  if (!store || X509_STORE_load_file(store.get(), caFile.c_str()) != 1) {
    report.Fault("signature: the CA file " + ca + " cannot be read as PEM certificates: " + OpensslError());
    return;
  }
  // Code-signing certificates name no purpose OpenSSL checks by default;
  // their use is checked below.
  X509_STORE_set_purpose(store.get(), X509_PURPOSE_ANY);
  Owned<X509_STORE_CTX, X509_STORE_CTX_free> context(X509_STORE_CTX_new());
  if (!context || X509_STORE_CTX_init(context.get(), store.get(), signer, carried) != 1) {
    report.Fault("signature: the signer's chain cannot be checked: " + OpensslError());
    return;
  }
  if (X509_verify_cert(context.get()) != 1) {
    report.Fault("signature: the signer's certificate does not lead to a CA of " + ca + ": " +
                 X509_verify_cert_error_string(X509_STORE_CTX_get_error(context.get())));
    ERR_clear_error();
    return;
  }
  if ((X509_get_extension_flags(signer) & EXFLAG_XKUSAGE) != 0 &&
      (X509_get_extended_key_usage(signer) & XKU_CODE_SIGN) == 0) {
    report.Fault("signature: the signer's certificate names its uses, and code signing is not among them");
    return;
  }
  report.Ok("signature: the signer's certificate leads to a CA of " + ca + ", is valid now and may sign code");
}

}  // namespace

void CheckSignature(PackageFile& package, const pe::FileRange& table, const std::optional<std::string>& caFile,
                    Report& report) {
  std::array<std::uint8_t, EntryHeaderSize> header{};
  ReadAt(package, table.offset, header);
  const std::uint32_t length = *pe::LoadU32(header, 0);
  const std::uint16_t type = *pe::LoadU16(header, 6);
  if (type != SignedDataType) {
    report.Fault("signature: the certificate table holds certificate type " + std::to_string(type) +
                 ", not signed data: there is no signature to check");
    return;
  }
  if (length - EntryHeaderSize > MaxSignedData) {
    report.Fault("signature: the signed data is larger than the " + std::to_string(MaxSignedData) +
                 " bytes qdpkg reads");
    return;
  }
  std::vector<std::uint8_t> der(length - EntryHeaderSize);
  if (ReadAt(package, table.offset + EntryHeaderSize, der) != der.size()) {
    report.Fault("signature: the signed data cannot be read");
    return;
  }
  const unsigned char* at = der.data();
  Owned<PKCS7, PKCS7_free> signedData(d2i_PKCS7(nullptr, &at, static_cast<long>(der.size())));
  if (!signedData || !PKCS7_type_is_signed(signedData.get())) {
    report.Fault("signature: the certificate table holds no PKCS #7 signed data: " + OpensslError());
    return;
  }
  const auto indirect = ReadIndirectData(signedData.get());
  if (!indirect) {
    report.Fault("signature: the signed data signs no Authenticode image digest");
    ERR_clear_error();
    return;
  }

  // The image digest, computed anew, against the signed one.
  const X509_ALGOR* algorithm = nullptr;
  const ASN1_OCTET_STRING* signedDigest = nullptr;
  X509_SIG_get0(indirect->digestInfo.get(), &algorithm, &signedDigest);
  const EVP_MD* digestType = EVP_get_digestbyobj(algorithm->algorithm);
  const auto ranges = pe::AuthenticodeDigestRanges(*package.image, package.size);
  if (!digestType) {
    report.Fault("signature: the signed digest's algorithm is none that qdpkg knows");
  } else if (!ranges) {
    report.Fault("signature: the headers lack the fields an image digest leaves out");
  } else {
    const std::string name = OBJ_nid2sn(EVP_MD_get_type(digestType));
    const std::vector<unsigned char> digest = ImageDigest(package, *ranges, digestType);
    const auto* signedBytes = ASN1_STRING_get0_data(signedDigest);
    const auto signedSize = static_cast<std::size_t>(ASN1_STRING_length(signedDigest));
    if (digest.empty())
      report.Fault("signature: the image digest cannot be computed: the file cannot be read");
    else if (digest.size() != signedSize || !std::equal(digest.begin(), digest.end(), signedBytes))
      report.Fault("signature: the image digest (" + name + ") is " + HexBytes(digest.data(), digest.size()) +
                   ", the signed one " + HexBytes(signedBytes, signedSize) +
                   ": the file was changed after it was signed");
    else
      report.Ok("signature: the image digest (" + name + ") is the signed one");
  }

  // The signature over the content, by the certificate it names. The
  // content is read through a buffer: PKCS7_verify copies a bare memory BIO
  // into one of its own, which it loses when the signed data cannot be read.
  BIO* bytes = BIO_new_mem_buf(indirect->contents, static_cast<int>(indirect->contentsSize));
  Owned<BIO, BIO_free_all> content(bytes ? BIO_push(BIO_new(BIO_f_buffer()), bytes) : nullptr);
  const bool holds =
      content && PKCS7_verify(signedData.get(), nullptr, nullptr, content.get(), nullptr, PKCS7_NOVERIFY) == 1;
  const std::string why = holds ? std::string() : OpensslError();
  Owned<STACK_OF(X509), FreeCertificates> signers(PKCS7_get0_signers(signedData.get(), nullptr, 0));
  ERR_clear_error();
  X509* signer = signers && sk_X509_num(signers.get()) == 1 ? sk_X509_value(signers.get(), 0) : nullptr;
  if (!holds) {
    report.Fault("signature: the PKCS #7 signature does not hold: " + why);
    return;
  }
  report.Ok("signature: signed by " + (signer ? Subject(signer) : std::string("an unnamed signer")) +
            "; the signature over the signed digest holds");
  if (!caFile)
    report.NotChecked("the signer's certificate chain: give --ca FILE to check it against your CA");
  else if (!signer)
    report.Fault("signature: the signer's certificate is not one of those the signature carries");
  else
    CheckChain(signer, signedData->d.sign->cert, *caFile, report);
}

}  // namespace qd::pkg
