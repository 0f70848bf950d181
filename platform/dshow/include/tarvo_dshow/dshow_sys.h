/* Class ids of the system filters in libtarvo_dshow_sys.so, created through
 * CoCreateInstance. */
#ifndef TARVO_DSHOW_DSHOW_SYS_H
#define TARVO_DSHOW_DSHOW_SYS_H

#include <tarvo_dshow/dshow.h>

/* File Source (Async.): IFileSourceFilter, and one output pin offering
 * IAsyncReader over the file. */
TARVO_GUID(CLSID_AsyncReader, 0xE436EBB5, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
/* WAVE parser: pulls a RIFF WAVE stream and delivers whole blocks with
 * times; its output pin seeks by time. */
TARVO_GUID(CLSID_WAVEParser, 0xD51BD5A1, 0x7548, 0x11CF, 0xA5, 0x20, 0x00, 0x80, 0xC7, 0x7E, 0xF5, 0x8A);
/* ACM wrapper: MS and IMA ADPCM, MPEG layer 2 and 3 audio to 16-bit PCM. */
TARVO_GUID(CLSID_ACMWrapper, 0x6A08CF80, 0x0E18, 0x11CF, 0xA2, 0x4D, 0x00, 0x20, 0xAF, 0xD7, 0x97, 0x67);

/* A file that is not of the reader's kind. */
#define VFW_E_INVALID_FILE_FORMAT ((HRESULT)0x8004022F)

/* WM ASF Reader: IFileSourceFilter; one output pin per audio stream of the
 * file, "Raw Audio 0" onwards, delivering its compressed packets with
 * times; each pin seeks the whole file by time. */
TARVO_GUID(CLSID_WMAsfReader, 0x187463A0, 0x5BB7, 0x11D3, 0xAC, 0xBE, 0x00, 0x80, 0xC7, 0x5E, 0x24, 0x6E);
/* DMO wrapper: a transform filter that becomes the decoder named by
 * IDMOWrapperFilter::Init. */
TARVO_GUID(CLSID_DMOWrapperFilter, 0x94297043, 0xBD82, 0x4DFD, 0xB0, 0xDE, 0x81, 0x77, 0x73, 0x9C, 0x6D, 0x20);
TARVO_GUID(IID_IDMOWrapperFilter, 0x52D6F586, 0x9F0F, 0x4824, 0x8F, 0xC8, 0xE3, 0x2C, 0xA0, 0x49, 0x30, 0xC2);
/* The decoders the wrapper takes, in the audio decoder category: WMA (v1,
 * v2 and Pro, to 16-bit PCM, more than two channels folded to stereo) and
 * WMA voice. */
TARVO_GUID(DMOCATEGORY_AUDIO_DECODER, 0x57F2DB8B, 0xE6BB, 0x4513, 0x9D, 0x43, 0xDC, 0xD2, 0xA6, 0x59, 0x31, 0x25);
TARVO_GUID(CLSID_CWMADecMediaObject, 0x2EEB4ADF, 0x4578, 0x4D10, 0xBC, 0xA7, 0xBB, 0x95, 0x5F, 0x56, 0x32, 0x0A);
TARVO_GUID(CLSID_CWMSPDecMediaObject, 0x874131CB, 0x4ECC, 0x443B, 0x89, 0x48, 0x74, 0x6B, 0x89, 0x59, 0x5D, 0x20);

class IDMOWrapperFilter : public IUnknown {
 public:
  /* Once, before the pins connect: REGDB_E_CLASSNOTREG for a DMO that is
   * not one of the above (or not of that category). */
  virtual HRESULT Init(REFCLSID clsidDMO, REFCLSID catDMO) = 0;
};

#endif
