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

#endif
