/* Picture headers that plug-ins read too: the size, depth and EXIF texts
 * of a JPEG, and the header of a BMP.  Both parsers take an open file
 * positioned at offset 0, read only headers and metadata segments, and
 * return 1/0. */
#ifndef TARVO_TAG_IMAGE_H
#define TARVO_TAG_IMAGE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
  uint16_t width;  /* from the first start-of-frame segment */
  uint16_t height;
  uint32_t depth;       /* components x 8, at most 24; 0 without a frame */
  uint32_t orientation; /* EXIF Orientation; 0 when absent */
  char *date;           /* EXIF DateTimeOriginal as stored, or NULL */
  char *comment;        /* the last COM segment, or NULL */
  char *copyright;      /* EXIF Copyright, or NULL */
} jpeg_info;

/* Zero-fills info first.  The texts are heap strings owned by the record;
 * on failure they are already freed. */
int jpeg_info_parse(jpeg_info *info, int file);
/* Frees the three texts (NULL ones too); the pointers are left as they are. */
void jpeg_info_free(jpeg_info *info);

/* Header kinds of a BMP, by the size of its information header. */
enum bmp_kind {
  BMP_KIND_OS2_V1 = 1, /* 12 bytes */
  BMP_KIND_OS2_V2 = 2, /* 16 to 64 bytes */
  BMP_KIND_INFO = 3,   /* 40 bytes */
  BMP_KIND_V4 = 4,     /* 108 bytes */
  BMP_KIND_V5 = 5      /* 124 bytes */
};

typedef struct {
  uint32_t kind;
  uint32_t width;
  uint32_t height; /* the magnitude; see top_down */
  uint16_t planes;
  uint16_t bit_count;
  /* Kinds 2 to 5; kind 2 only as far as its header reaches. */
  uint32_t compression;
  uint32_t image_size;
  uint32_t x_pels_per_meter;
  uint32_t y_pels_per_meter;
  uint32_t colors_used;
  uint32_t colors_important;
  union {
    struct { /* kinds 4 and 5 */
      uint32_t red_mask, green_mask, blue_mask, alpha_mask;
      uint32_t cs_type;
      uint32_t endpoints[9];
      uint32_t gamma_red, gamma_green, gamma_blue;
    } v4;
    struct { /* kind 2, as far as its header reaches */
      uint16_t units, reserved, recording, rendering;
      uint32_t size1, size2, color_encoding, identifier;
    } os2;
  } ext;
  /* Kind 5. */
  uint32_t intent;
  uint32_t profile_data;
  uint32_t profile_size;
  uint32_t reserved;
  uint32_t top_down; /* 1 when the stored height was negative (kinds 3 to 5) */
} bmp_info;

/* Zero-fills info first. */
int bmp_info_parse(bmp_info *info, int file);

#ifdef __cplusplus
}
#endif
#endif
