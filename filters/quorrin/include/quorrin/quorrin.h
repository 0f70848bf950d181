/* The MP3 parser filter library's class id and its control interface, as
 * the filter and its clients share them. */
#ifndef TARVO_QUORRIN_QUORRIN_H
#define TARVO_QUORRIN_QUORRIN_H

#include <tarvo_com/com.h>

TARVO_GUID(CLSID_Mp3Parser, 0xEA380AF0, 0xDE2F, 0x4D10, 0xAF, 0x34, 0x58, 0x9F, 0xAB, 0x48, 0x81, 0xAC);
TARVO_GUID(IID_IMp3ParserControl, 0x661C5243, 0xD58A, 0x480D, 0x95, 0x77, 0x45, 0x5A, 0xF7, 0xBF, 0x59, 0xB6);

/* The stream's declared duration in 100 ns units (-1 when unset), to be set
 * before the input connects; the parser reports it as the duration and maps
 * seek times by it. */
class IMp3ParserControl : public IUnknown {
 public:
  virtual HRESULT SetDeclaredDuration(LONGLONG *duration) = 0;
  virtual HRESULT GetDeclaredDuration(LONGLONG *duration) = 0;
};

#endif
