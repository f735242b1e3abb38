/*
 * fuzz_encoding.cpp - the server's encoded string form.
 *
 * Invariants: decode(encode(x)) == x; the encoded text holds no single or
 * double quote, no backslash and no control character, so it is safe
 * between single quotes and on a script line; the empty text encodes as
 * "#00"; decoding any text (valid sequences or not) never makes it longer
 * and never reads past its end.
 */
#include "fuzz.h"

#include "vldbmgr.h"

namespace fuzzencoding {

int FuzzEncodingRoundTrip(const uint8_t *pData, size_t nSize)
{
   // The input up to its first NUL is the text (texts are NUL-ended).
   size_t nLength = strnlen((const char *)pData, nSize);
   std::string text((const char *)pData, nLength);

   char *pszEncoded = EncodeSQLString(text.c_str());
   FUZZ_CHECK(pszEncoded != nullptr);
   if (pszEncoded == nullptr)
      return 0;
   if (text.empty())
      FUZZ_CHECK(strcmp(pszEncoded, "#00") == 0);
   for (const unsigned char *p = (const unsigned char *)pszEncoded; *p != 0; p++)
      FUZZ_CHECK(*p != '\'' && *p != '"' && *p != '\\' && *p >= 0x20 && *p != 0x7F);

   size_t nEncoded = strlen(pszEncoded);
   char *pszDecoded = (char *)malloc(nEncoded + 1);
   memcpy(pszDecoded, pszEncoded, nEncoded + 1);
   DecodeSQLString(pszDecoded);
   FUZZ_CHECK(text == pszDecoded);
   free(pszDecoded);
   free(pszEncoded);

   // The raw input as a stored text, in a block of exactly its size.
   char *pszRaw = (char *)malloc(nLength + 1);
   memcpy(pszRaw, text.data(), nLength);
   pszRaw[nLength] = 0;
   DecodeSQLString(pszRaw);
   FUZZ_CHECK(strlen(pszRaw) <= nLength);
   free(pszRaw);
   return 0;
}

}  // namespace fuzzencoding

VL_FUZZ_ENTRY(fuzzencoding::FuzzEncodingRoundTrip)
