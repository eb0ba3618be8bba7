/*
 * libcab32.so: Microsoft Cabinet archives driven by one command line.
 *
 * All texts (command line, paths, output) are UTF-8.
 *
 * Command line: switches and arguments separated by blanks. An argument that
 * holds blanks is put in double quotes; nothing inside quotes is escaped, so a
 * folder may end in "/" right before the closing quote. A switch begins with
 * "-" and is never quoted.
 *
 *   -a            create an archive (the default action)
 *   -x            extract an archive
 *   -r            with -a: also take the files of every subfolder
 *   -o            replace an existing archive (-a) or existing files (-x)
 *   -i            run without any window (the library never shows one anyway)
 *   -mz           MSZIP compression (the default)
 *   -ms           no compression
 *   -ml<15..21>   LZX: recognised, but cannot be written (CAB32_E_METHOD)
 *   -mq<1..7>     Quantum: recognised, but cannot be written (CAB32_E_METHOD)
 *
 *   Create:  -a [-r] [-i] [-o] [-mz|-ms] "archive" "folder/" pattern...
 *            Each pattern is a file name below the folder, "*" and "?" being
 *            wildcards; "*.*" and "*" take every file. The names in the
 *            archive are the paths below the folder, with "\" between folder
 *            names: in code page 932 when the whole name has a form there,
 *            otherwise in UTF-8 with the name attribute 0x80. An empty archive
 *            name means the folder's own name followed by ".cab" when the
 *            pattern is "*.*", else the first pattern's base name + ".cab" in
 *            the folder. Names beginning with "." are stored as hidden, files
 *            without write permission as read-only; every file has the archive
 *            attribute. Times are stored as local time.
 *   Extract: -x [-o] [-i] "archive" "destination/" [pattern...]
 *            The destination folder is created when its parent exists. Names
 *            that would lead outside it ("..", absolute names, drive letters)
 *            refuse the whole archive before anything is written; no file is
 *            written through a symbolic link. Times and the read-only
 *            attribute are restored.
 *
 * The archive is written to a temporary file beside it and renamed into place
 * only when complete, so a failure never leaves a partial archive behind.
 * MSZIP output matches gzip -6 in size: blocks are cut from deflate streams
 * that keep the 32 KiB history, compressed on up to four threads; memory stays
 * a few MiB whatever the input size.
 */
#ifndef KESTLIN_CAB32_H
#define KESTLIN_CAB32_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of Cab. */
#define CAB32_OK 0
/* The command line is missing, has an unbalanced double quote, lacks the
 * archive or the folder, or mixes -a and -x. */
#define CAB32_E_CMDLINE 0x8001
/* A switch that the library does not know. */
#define CAB32_E_SWITCH 0x8002
/* LZX or Quantum was asked for: no compressor for them is available, and
 * writing another method under their name would mislabel the archive. */
#define CAB32_E_METHOD 0x8003
/* The folder to pack (or the single file named) does not exist. */
#define CAB32_E_NOINPUT 0x8004
/* No file matches the patterns: a cabinet without files is not valid. */
#define CAB32_E_NOFILES 0x8005
/* A file to pack or a folder below the packed one cannot be read, or a file
 * changed its size while being packed. */
#define CAB32_E_READ 0x8006
/* The archive cannot be written: its folder is missing or read-only, the disk
 * is full, or the finished file cannot be renamed into place. On extraction:
 * a file or folder of the destination cannot be created or written. */
#define CAB32_E_WRITE 0x8007
/* The archive (or, on extraction, a file) exists and -o was not given. */
#define CAB32_E_EXISTS 0x8008
/* Beyond what one cabinet can hold: more than 65535 files, a file larger than
 * one folder can hold (65535 blocks of 32 KiB), a stored name longer than 255
 * bytes, or an archive of 4 GiB or more. */
#define CAB32_E_LIMIT 0x8009
/* The file to extract is not a valid cabinet (also a truncated one). */
#define CAB32_E_NOTCAB 0x800A
/* A name that cannot be stored: it holds "\", Windows cannot hold it (a
 * character of \ / : * ? " < > | or a control character, a final "." or
 * blank, a device name such as CON or COM1 even with an extension), or
 * Windows would take it for another name of the archive ("a.txt" and
 * "A.TXT", "ａ" and "Ａ"). On extraction: a name that would lead outside the
 * destination or through a symbolic link. */
#define CAB32_E_BADNAME 0x800B
/* The archive's data is damaged: wrong checksum or undecodable block, a
 * method that cannot be decoded (also LZX or Quantum with a window size out
 * of range), block headers cut short or declaring more than 32 KiB, or file
 * entries that run past the data of their folder or share data with another
 * entry. The last are refused before anything is decoded: extracting every
 * file writes at most what the folders' blocks declare, and decodes each
 * folder once. */
#define CAB32_E_DATA 0x800C
/* Not enough memory. */
#define CAB32_E_MEMORY 0x800D
/* Any other unexpected failure inside the library; the output text names it. */
#define CAB32_E_INTERNAL 0x800E

/* Runs one command line. hwnd is kept for the Windows-compatible signature and
 * ignored: the library never shows a window. A text describing the result is
 * written into output, cut to size - 1 bytes and null-terminated, when
 * size > 0; output may be NULL when size is 0. Returns CAB32_OK or one of the
 * codes above. */
int32_t Cab(uint32_t hwnd, const char *cmdline, char *output, int32_t size);

/* Check modes of CabCheckArchive. */
/* The headers are sound (see CAB32_E_DATA for what that takes) and the file is
 * as long as they say. */
#define CAB32_CHECK_HEADERS 1
/* As CAB32_CHECK_HEADERS, and every file decompresses with correct checksums:
 * each folder is decoded once, as far as its files reach, so the check passes
 * exactly when extracting every file would meet no damaged data. */
#define CAB32_CHECK_FULL 2

/* Non-zero when path is a regular file holding a valid cabinet, 0 for a
 * folder, a missing file and anything that is not a valid cabinet. A mode
 * other than CAB32_CHECK_FULL checks the headers only. */
int32_t CabCheckArchive(const char *path, int32_t mode);

#ifdef __cplusplus
}
#endif

#endif
