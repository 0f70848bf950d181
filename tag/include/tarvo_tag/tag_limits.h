/* Limits of the metadata library, in one place.  Each area keeps its own
 * block. */
#ifndef TARVO_TAG_LIMITS_H
#define TARVO_TAG_LIMITS_H

/* --- core --- */
/* Opens tried before a file counts as unreadable, and the pause after each
 * failed one: a file still being written gets about ten seconds. */
#define TAG_PROPERTY_RETRY_COUNT 10
#define TAG_OPEN_RETRY_PAUSE_MS 1000u

/* --- MPEG audio and ID3 --- */
/* The file buffer of the frame scan and the tag reader: many frames or
 * frame headers per read. */
#define TAG_MP3_BUFFER_SIZE 8192u
/* How far past the ID3v2 tags the first three frames are looked for: junk
 * before the audio is small, and a file that is not MPEG audio must not be
 * read to its end.  The tags themselves are passed by their sizes. */
#define TAG_MP3_SYNC_SEARCH_MAX (256u * 1024u)
/* Bytes of frames counted at the start of a stream without a Xing or VBRI
 * header before the rest is probed: a stream whose bitrate changes there
 * (variable rate without a header) is counted frame by frame; otherwise
 * the rest is worked out from its size where probes allow, so that an hour
 * of constant rate costs no more than five minutes. */
#define TAG_MP3_RATE_SAMPLE (32u * 1024u)
/* Frames counted one by one at the end of such a stream, behind the last
 * probe. */
#define TAG_MP3_TAIL_FRAMES 8u
/* Points the rest is divided at, where two frames of the rate of the last
 * known frame must stand where that rate puts them; the stretch up to a
 * point that fails is counted frame by frame.  A part of another rate
 * moves every later frame off those places unless its length fits them
 * exactly, so only such a part shorter than a 32nd of the stream may go
 * unseen.  Each point is one read of a page on its own, far from the
 * others. */
#define TAG_MP3_RATE_PROBES 32u
/* The largest ID3v2 frame body read into memory; larger ones (pictures,
 * blobs) are passed unread. */
#define TAG_ID3_FRAME_BODY_MAX (1024u * 1024u)
/* Room a resolved genre may take beyond its text ("(RX)" grows to
 * "Remix", a number to a name). */
#define TAG_ID3_GENRE_GROWTH 1024u

/* --- image readers --- */
/* Bytes the structure walk of one picture may read: headers, the EXIF
 * block and the comment.  Past it a JPEG walk fails, a PNG walk ends as at
 * IEND and libtiff's reads fail.  PNG texts have their own bound. */
#define TAG_IMAGE_READ_MAX (64u * 1024u)
/* Part of the budget kept for segment and chunk headers, so that large
 * texts never starve the walk to the frame header. */
#define TAG_IMAGE_HEADER_RESERVE (8u * 1024u)
/* Largest JPEG COM segment taken as a comment; longer ones are skipped
 * unread. */
#define TAG_JPEG_COMMENT_MAX (8u * 1024u)
/* Bytes of an EXIF block read; IFDs beyond them count as out of bounds.
 * Cameras place IFD0 and the Exif IFD well inside it, the thumbnail after. */
#define TAG_JPEG_EXIF_READ_MAX (48u * 1024u)
/* Exif-IFD pointers followed one inside another. */
#define TAG_EXIF_DEPTH_MAX 4
/* IFD entries looked at in one EXIF block, all IFDs together: pointers that
 * share an IFD cannot multiply the work. */
#define TAG_EXIF_ENTRY_MAX 4096u
/* Largest PNG tEXt chunk whose text is read; larger ones are skipped. */
#define TAG_PNG_TEXT_MAX (1024u * 1024u)
/* A PNG tEXt keyword is 1 to 79 bytes and its NUL. */
#define TAG_PNG_KEYWORD_MAX 80u
/* Largest single allocation libtiff may make for one picture. */
#define TAG_TIFF_ALLOC_MAX (1024u * 1024u)

/* --- RIFF (WAV, AVI) and Ogg --- */
/* Bytes a WAV or AVI reader reads at most: the headers of a real file take a
 * few hundred, so a file of endless tiny chunks or streams stops here. */
#define TAG_RIFF_READ_MAX 65536u
/* Bytes vorbisfile may read through the reader: a base for the pages it
 * needs at the end for the total time, and twice the file's size, since it
 * reads every header whole (a cover picture in the comments is read, not
 * passed) and searches back from the end for the stream's last page.  A
 * chained file is timed by a page walk of our own, bounded by the file's
 * size.  Past the budget the item keeps the stream's facts. */
#define TAG_OGG_READ_BASE (256u * 1024u)
#define TAG_OGG_READ_PER_FILE_BYTE 2u

/* --- ASF (WMA, WMV) --- */
/* The header walk's file buffer: the objects before the media data of a
 * plain file take a few KiB. */
#define TAG_ASF_BUFFER_SIZE 8192u
/* Bytes the header walk may read besides the header object's declared
 * size: objects outside it and the refills after skipped objects. */
#define TAG_ASF_READ_SLACK (256u * 1024u)
/* The most of a header object's declared size counted as readable: room
 * for long tag values, while a forged size cannot open the whole file. */
#define TAG_ASF_HEADER_READ_MAX (8u * 1024u * 1024u)
/* Entries kept per list (attributes, streams, codecs, bitrates); a header
 * holds a few dozen, and further ones are read past. */
#define TAG_ASF_LIST_MAX 4096u

/* --- MP4 and 3GPP --- */
/* The box walk's one file buffer: a moov box's headers and tables in few
 * reads. */
#define TAG_MP4_BUFFER_SIZE 8192u
/* Bytes the walk may read besides those of moov boxes: ftyp and the headers
 * of the other top-level boxes, which are passed by seeking.  A file of
 * endless small boxes stops here; with ftyp and moov read, it is complete. */
#define TAG_MP4_READ_MAX (256u * 1024u)
/* Largest decoder configuration copied and decoded; a real one is a few
 * dozen bytes, larger ones are passed unread. */
#define TAG_MP4_CONFIG_MAX 4096u
/* Largest tag value copied; longer items (lyrics, blobs) are passed
 * unread. */
#define TAG_MP4_TEXT_MAX (64u * 1024u)

/* --- elementary-stream headers --- */
/* Bytes of an H.264 SPS unescaped and read: a real one takes well under a
 * hundred, the largest legal one (all HRD entries, long cycles) a few KiB. */
#define TAG_AVC_SPS_MAX 8192u

/* --- MPEG transport streams --- */
/* Bytes the packet-grid search looks at: eight sync bytes of packets up to
 * 250 bytes long fit in it with room for a junk lead. */
#define TAG_TS_PROBE_BYTES 4000u
/* Packets the PSI and elementary-stream loop reads at most (about 9.4 MB of
 * 188-byte packets), and with the quick flag. */
#define TAG_TS_LOOP_PACKETS 50000u
#define TAG_TS_LOOP_PACKETS_QUICK 10000u
/* With the quick flag the duration is extrapolated from this many packets
 * at the start (the first arrival stamp and as many after it). */
#define TAG_TS_QUICK_CLOCK_PACKETS 1000u
/* The packet reader's file buffer. */
#define TAG_TS_BUFFER_SIZE 8192u
/* Largest PAT or PMT section, and the larger SIT of ARIB partial streams. */
#define TAG_TS_PSI_SECTION_MAX 1024u
#define TAG_TS_SIT_SECTION_MAX 4096u
/* PES bytes held for one stream while its parser waits for a header; past
 * it the bytes are dropped and the next PES packet starts afresh. */
#define TAG_TS_PES_BUFFER_MAX (1024u * 1024u)
/* Buffers of distinct PIDs: PAT, PMT, SIT, one video and a few audio. */
#define TAG_TS_PID_BUFFERS_MAX 64u
/* Audio streams taken from one PMT. */
#define TAG_TS_AUDIO_MAX 16u
/* PIDs whose PCRs the head loop follows before it knows the PCR PID. */
#define TAG_TS_PCR_TRACKS 8u
/* The end of the file read for the last clock values, on the packet grid. */
#define TAG_TS_TAIL_WINDOW (4u * 1024u * 1024u)
/* Reads between head and tail when the clock jumps: at most this many
 * reads of this size, whatever the file's length. */
#define TAG_TS_PROBE_READS 64u
#define TAG_TS_PROBE_READ_SIZE (64u * 1024u)

/* --- MPEG program streams and the container probe --- */
/* The file buffer of the probe and the scans: many packets per read. */
#define TAG_MPEG_BUFFER_SIZE 8192u
/* Head of the file that the container probe looks at: hundreds of packets
 * of either transport-stream grid, and the first packs of a program stream. */
#define TAG_MPEG_PROBE_WINDOW 100000u
/* Bytes slid over looking for the first pack header: junk before it is
 * short, and a file that is no program stream is not read to its end. */
#define TAG_MPEGPS_PACK_SEARCH_MAX 100000u
/* Head scanned for the stream headers and the first video PTS: every
 * stream of a real file has shown its header well inside it. */
#define TAG_MPEGPS_HEAD_MAX 1000000u
/* Tails searched for the last video PTS, each one step longer than the
 * last (2, 4 and 6 MB): a GOP of high-rate video fits in the first. */
#define TAG_MPEGPS_TAIL_STEP 2000000u
#define TAG_MPEGPS_TAIL_TRIES 3u
/* Room the packet buffer starts with; it grows to a packet's length, at
 * most 65535 bytes. */
#define TAG_MPEGPS_PACKET_RESERVE 2048u
/* How far a tail PTS may lie before the first one (B-frames shown before
 * the first decoded picture) and still count as earlier, not as a time
 * past the 33-bit wrap: one minute at 90 kHz. */
#define TAG_MPEGPS_PTS_BACK_MAX (60u * 90000u)

#endif
