/*
 * The engine library's C interface: twelve "clam_" entries in the style of the
 * legacy libclamav interface, served over libclamav 1.x. Programs load the library
 * at run time and look the entries up by name.
 *
 * Results: 0 is success (and "clean" for the scan entries), 1 means a virus was
 * found, other values are libclamav's error codes (clam_strerror tells them).
 * Strings are zero-terminated byte strings. An engine handle is opaque.
 */
#ifndef KORBU_CLAM_H
#define KORBU_CLAM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define KORBU_CLAM_API __declspec(dllexport)
#else
#define KORBU_CLAM_API __attribute__((visibility("default")))
#endif

/* Size of the virus name buffers the scan entries write to: at most 511 bytes of
 * name and a terminating zero. */
#define CLAM_NAME_BUFFER_SIZE 512

/* The legacy limits record, 20 bytes: offsets 0, 4, 8, 12 and 16. A value of 0 or
 * less leaves libclamav's own default for that limit. maxratio and archivememlim
 * have no successor in libclamav 1.x and are accepted but not applied. */
struct clam_limits {
  int32_t maxreclevel;  /* archive recursion depth */
  int32_t maxfiles;     /* files scanned inside one archive */
  int32_t maxratio;     /* compression ratio (not applied) */
  int16_t archivememlim; /* archive memory limit flag (not applied) */
  int16_t padding;
  int32_t maxfilesize;  /* bytes; larger files and members are not scanned */
};

/* Legacy option bits of the scan entries. */
#define CLAM_SCAN_ARCHIVE        0x1
#define CLAM_SCAN_MAIL           0x2
#define CLAM_SCAN_OLE2           0x4
#define CLAM_SCAN_BLOCKENCRYPTED 0x8
#define CLAM_SCAN_HTML           0x10
#define CLAM_SCAN_PE             0x20
#define CLAM_SCAN_BLOCKBROKEN    0x40
#define CLAM_SCAN_MAILURL        0x80
#define CLAM_SCAN_BLOCKMAX       0x100
#define CLAM_SCAN_ALGORITHMIC    0x200

/* 1: scans a memory buffer with the engine (no archive or format parsing).
 * name receives CLAM_NAME_BUFFER_SIZE bytes at most. */
KORBU_CLAM_API int clam_scanbuff(const char* buffer, uint32_t length, char* name,
                                 void* engine);

/* 2: scans a file. name receives the virus name when the result is 1 and an empty
 * text otherwise; scanned receives the amount scanned in 4096-byte blocks; limits
 * may be null (libclamav's defaults apply). A file larger than maxfilesize is not
 * scanned: the result is libclamav's code for "exceeds max size" (24), never 0
 * or 1, whatever the options; so is it for a scan that found nothing but had to
 * cut a file it unpacked to maxfilesize. libclamav does not remember earlier
 * verdicts, so a scan with other options or limits always looks at the file anew. */
KORBU_CLAM_API int clam_scanfile(const char* path, char* name, uint32_t* scanned,
                                 void* engine, const struct clam_limits* limits,
                                 unsigned int options);

/* 3: as clam_scanfile, for a file open for reading as descriptor desc. */
KORBU_CLAM_API int clam_scandesc(int desc, char* name, uint32_t* scanned, void* engine,
                                 const struct clam_limits* limits, unsigned int options);

/* 4: libclamav's functionality level. */
KORBU_CLAM_API unsigned int clam_retflevel(void);

/* 5: libclamav's version text; owned by the library. */
KORBU_CLAM_API const char* clam_retver(void);

/* 6: the text of a result code; owned by the library. */
KORBU_CLAM_API const char* clam_strerror(int code);

/* 7: switches libclamav's debug messages on (to standard error). Without it only
 * libclamav's error messages are printed. */
KORBU_CLAM_API void clam_debug(void);

/* 8: compiles an engine's signatures; 0 when it is ready for scanning. */
KORBU_CLAM_API int clam_build(void* engine);

/* 9: releases an engine (null is ignored). */
KORBU_CLAM_API void clam_free(void* engine);

/* 10: a new engine holding the databases of a folder, or null on failure. signo
 * receives the number of signatures loaded, status the result code; either may be
 * null. */
KORBU_CLAM_API void* clam_loaddbdir(const char* folder, uint32_t* signo, int32_t* status);

/* 11: as clam_loaddbdir, for one database file. */
KORBU_CLAM_API void* clam_loaddb(const char* path, uint32_t* signo, int32_t* status);

/* 12: checks a CVD database's digital signature; 0 when it is intact and valid. */
KORBU_CLAM_API int clam_cvdverify(const char* path);

/* Beyond the twelve: why the library cannot scan (no libclamav found, or one
 * older than 1.2), or an empty text when it can. Owned by the library. While it
 * cannot, clam_retflevel returns 0 and every other entry fails. */
KORBU_CLAM_API const char* korbu_engine_problem(void);

/* The folder of the installed ClamAV whose libclamav the library uses (Windows),
 * or an empty text when libclamav came from the library search. */
KORBU_CLAM_API const char* korbu_clamav_folder(void);

/* A new engine holding the databases of up to two folders: those of official as
 * the signature provider's own (their names as its signed containers give them),
 * then those of local as local signatures; either may be null or empty. signo and
 * status as for clam_loaddbdir. A small engine of the signatures a database update
 * added is loaded this way. */
KORBU_CLAM_API void* korbu_loaddbdirs(const char* official, const char* local, uint32_t* signo,
                                      int32_t* status);

/* A new engine holding the databases of count paths, each a folder or one database
 * file, loaded in turn. signo and status as for clam_loaddbdir; failed (may be null)
 * receives the index of the path that could not be loaded, or count when none failed. */
KORBU_CLAM_API void* korbu_loaddbpaths(const char* const* paths, uint32_t count, uint32_t* signo, int32_t* status,
                                       uint32_t* failed);

/* Sets the folder libclamav makes its temporary files and folders in for an
 * engine's scans (by default $TMPDIR, else /tmp); 0 on success. */
KORBU_CLAM_API int korbu_engine_set_tempdir(void* engine, const char* folder);

/* Widens an engine's scans beyond what the legacy option word can say: parse
 * (libclamav's CL_SCAN_PARSE_ bits: PDF, ELF, Office XML...) is added to what every
 * later scan of the engine parses, and maxscansize, when not 0, is the most bytes
 * one scan reads in all, its archives' members included (libclamav's
 * CL_ENGINE_MAX_SCANSIZE); waits for running scans. 0 on success. */
KORBU_CLAM_API int korbu_engine_widen(void* engine, uint32_t parse, uint64_t maxscansize);

/* Facts of korbu_scandesc_facts about a file libclamav 1.4 found clean and saw as
 * one layer (it made no layer of its own from it): what its body and hash
 * signatures were matched against, where no bytecode is loaded. Only its bytes as
 * they lie (data, or text where HTML is not parsed): */
#define KORBU_FACT_MATCHED_AS_BYTES 0x1
/* Its bytes, and the text its script normalizer makes of them (Unicode text
 * where HTML is parsed): */
#define KORBU_FACT_MATCHED_AS_TEXT 0x2

/* As clam_scandesc; facts (may be null) receives the KORBU_FACT_ bits of the scan. */
KORBU_CLAM_API int korbu_scandesc_facts(int desc, char* name, uint32_t* scanned, void* engine,
                                        const struct clam_limits* limits, unsigned int options, uint32_t* facts);

#ifdef __cplusplus
}
#endif

#endif /* KORBU_CLAM_H */
