// Every text that the bundle tool reports, in one place: errors (PrintError
// puts "satchel: " in front and a newline behind), warnings, verify's notes
// and problems, and the reasons that complete them.  The usage texts stay
// with their commands.
//
// Texts built from paths and numbers are printf formats, handed to
// PrintError, printf or MessageText as they stand, so that the compiler
// checks every argument against them.  A leading "%s: " is the file the text
// speaks of, as the user gave it; "%s" after "entry" or "property" is the
// entry's name or the property's key.  Nothing decides by a text: a caller
// that must tell failures apart has a return value for it.
#ifndef SATCHEL_TOOL_MESSAGES_H
#define SATCHEL_TOOL_MESSAGES_H

#include "payload.h"

// ---- shared by several commands ----

// A file and what went wrong with it (an errno text, a library's message,
// or a problem built from the texts below).
#define TOOL_MSG_AT_FILE "%s: %s"
#define TOOL_MSG_CANNOT_OPEN "%s: cannot open: %s"  // path, errno text
#define TOOL_MSG_READ_FAILED "read failed"
#define TOOL_MSG_FILE_READ_FAILED "%s: read failed"
// The option's name, then the command whose help to see.
#define TOOL_MSG_NEEDS_VALUE "%s needs a value (see satchel %s --help)"
// The command, the argument, the command again.
#define TOOL_MSG_UNEXPECTED_ARGUMENT "%s: unexpected argument \"%s\" (see satchel %s --help)"
// The command, the command again.
#define TOOL_MSG_NEEDS_BUNDLE "%s needs a BUNDLE (see satchel %s --help)"
#define TOOL_MSG_UNKNOWN_COMMAND "unknown command \"%s\""
// An entry and what is wrong with it.
#define TOOL_MSG_ENTRY_PROBLEM "entry \"%s\": %s"
// Property key, value, the plain-name rule's reason.
#define TOOL_MSG_PROPERTY_NOT_PLAIN "property \"%s\" = \"%s\" is not a plain Windows file name: %s"
// The msi and exe property values.
#define TOOL_MSG_MSI_EXE_SAME_NAME \
  "the msi name \"%s\" and the exe name \"%s\" are the same file name when case is ignored"

// pack's and pack-java's -j and --level: the command, (for -j the option as
// given,) the range, then the value given.
#define TOOL_MSG_BAD_JOBS "%s: %s takes a number of threads from 1 to %d, not \"%s\""
#define TOOL_MSG_BAD_LEVEL "%s: --level takes a level from %d (fastest) to %d (smallest), not \"%s\""

// ---- the tool's files (tool_files) ----

#define TOOL_MSG_TEMP_FILE_FAILED "%s: cannot create a temporary file beside it: %s"  // errno text
#define TOOL_MSG_NO_TEMP_FILE "%s: cannot create a temporary file beside it"
#define TOOL_MSG_NOT_OPEN_FOR_WRITING "%s: not open for writing"
#define TOOL_MSG_WRITE_FAILED "%s: write failed: %s"  // errno text
#define TOOL_MSG_REPLACE_FAILED "%s: cannot replace it (Windows error %lu)"
#define TOOL_MSG_RENAME_FAILED "%s: cannot rename the finished file into place: %s"  // errno text
#define TOOL_MSG_IS_A_FOLDER "%s: is a folder, not a file"
#define TOOL_MSG_OUTPUT_NOT_A_FILE \
  "%s: exists and is not a regular file (a device, a pipe or a socket); it is never replaced: write to a regular file"
#define TOOL_MSG_INPUT_TOO_LARGE "%s: the file is %llu bytes; an entry holds less than 4 GiB"
#define TOOL_MSG_READ_FAILED_BECAUSE "%s: read failed: %s"  // errno text

// ---- the plain Windows file-name rule in words (file_names) ----

#define TOOL_MSG_NAME_EMPTY "the name is empty"
#define TOOL_MSG_NAME_DOTS "\".\" and \"..\" name folders, not files"
#define TOOL_MSG_NAME_NOT_UTF8 "the name is not well-formed UTF-8"
#define TOOL_MSG_NAME_CONTROL "the name holds a control character"
#define TOOL_MSG_NAME_CHARACTER "the name holds the character '%c'"
#define TOOL_MSG_NAME_ENDS_WITH_DOT "the name ends with a dot"
#define TOOL_MSG_NAME_ENDS_WITH_SPACE "the name ends with a space"
// The name's length, then the most that fits.
#define TOOL_MSG_NAME_TOO_LONG "the name is %zu UTF-16 code units long; at most %d fit"
// The device name (the name up to its extension).
#define TOOL_MSG_NAME_RESERVED "\"%.*s\" is a reserved device name"

// ---- default stubs (default_stubs) ----

// The stub's file name in the data folder.
#define TOOL_MSG_NO_OWN_FOLDER "cannot find the tool's own folder for the default %s; give its path"
// Where it was looked for, the stub's file name.
#define TOOL_MSG_NO_DEFAULT_STUB "%s: no default %s (not installed or not built); give its path"
#define TOOL_MSG_NOT_A_PE "%s: not a Windows executable"
// Why the stub's machine is not known (a message above).
#define TOOL_MSG_BOOTSTRAP_NEEDS_MACHINE \
  "%s; the ready bootstrap is packed for the stub's machine, so give --exe"
// The stub, its PE machine field.
#define TOOL_MSG_NO_BOOTSTRAP_FOR_MACHINE "%s: no ready bootstrap for machine type %#06x; give --exe"

// ---- writing a bundle (bundle_writer) ----
// The first "%s" is the output, or the stub where the text is about the stub;
// names and keys come quoted and escaped.

#define TOOL_MSG_ENTRY_NAME_NUL "%s: entry name %s holds a NUL byte"
#define TOOL_MSG_ENTRY_TOO_LARGE "%s: entry %s is 4 GiB or larger"
#define TOOL_MSG_KEY_NUL "%s: property key %s holds a NUL byte"
// Output, key, its length, the longest a key may be.
#define TOOL_MSG_KEY_TOO_LONG "%s: property key %s is %zu bytes long; keys are limited to %d bytes"
#define TOOL_MSG_VALUE_NUL "%s: value of property %s holds a NUL byte"
#define TOOL_MSG_KEY_RESERVED \
  "%s: property key %s is the bundle's own: the entry checksums that the tool writes"
#define TOOL_MSG_STUB_SIZE_UNKNOWN "%s: cannot determine its size"
#define TOOL_MSG_STUB_TOO_LARGE \
  "%s: the stub alone is %llu bytes; the bundle would be 2 GiB or larger and a launcher cannot read it"
#define TOOL_MSG_ENTRY_NOT_COMPRESSIBLE "%s: entry %s cannot be compressed into a bundle below 2 GiB"
#define TOOL_MSG_BUNDLE_TOO_LARGE "%s: the bundle would be 2 GiB or larger; a launcher cannot read it"
#define TOOL_MSG_BUNDLE_SIZE_TOO_LARGE \
  "%s: the bundle would be %llu bytes, 2 GiB or larger; a launcher cannot read it"
#define TOOL_MSG_TOC_NOT_COMPRESSIBLE "%s: the table of contents cannot be compressed"
#define TOOL_MSG_STUB_HAS_PAYLOAD                                                             \
  "%s: the stub already carries a payload (a reader would find that one first); use a bare " \
  "launcher stub"
#define TOOL_MSG_STUB_NOT_A_PE "%s: not a Windows executable, so its subsystem cannot be set"
#define TOOL_MSG_STUB_CHANGED "%s: read failed or the stub changed while it was read"
// The output, then as in TOOL_MSG_PROPERTY_NOT_PLAIN and TOOL_MSG_MSI_EXE_SAME_NAME.
#define TOOL_MSG_BUNDLE_PROPERTY_NOT_PLAIN "%s: " TOOL_MSG_PROPERTY_NOT_PLAIN
#define TOOL_MSG_BUNDLE_MSI_EXE_SAME_NAME "%s: " TOOL_MSG_MSI_EXE_SAME_NAME

// ---- reading a bundle (bundle_reading, list, extract) ----

#define TOOL_MSG_SIZE_UNKNOWN "cannot determine the file size"
#define TOOL_MSG_NO_HEADER \
  "no payload header (no 512-byte block start holds the magic \"" PAYLOAD_MAGIC "\" with a matching CRC)"
// The offset of the first block whose magic has a wrong CRC.
#define TOOL_MSG_NO_HEADER_BAD_CRC TOOL_MSG_NO_HEADER "; the magic at offset %lld has a wrong header CRC"
#define TOOL_MSG_CANNOT_OPEN_PAYLOAD "cannot open the payload"
#define TOOL_MSG_ENDS_BEFORE_SIZE "the data ends before its declared size"
#define TOOL_MSG_LIST_ENTRY_SHADOWED "  (never read: an earlier entry has this name)"
#define TOOL_MSG_LIST_PROPERTY_SHADOWED "  (never read: a later property has this key)"

#define TOOL_MSG_EXTRACT_NEEDS "extract needs BUNDLE, NAME and -o FILE (see satchel extract --help)"
#define TOOL_MSG_EXTRACT_ONTO_BUNDLE "%s: the output is the bundle itself; write the entry to another file"
// Bundle, the name asked for, then one of the two texts below.
#define TOOL_MSG_NO_SUCH_ENTRY "%s: no entry named \"%s\"; %s"
#define TOOL_MSG_NO_ENTRIES "the bundle holds no entries"
#define TOOL_MSG_ITS_ENTRIES "its entries: %s"  // the first names, quoted, with ", " between
#define TOOL_MSG_MORE_ENTRIES ", ... (%zu in all)"
#define TOOL_MSG_NO_DICTIONARY "%s: cannot build the preset dictionary: %s"
// Bundle, entry, what went wrong.
#define TOOL_MSG_BUNDLE_ENTRY_PROBLEM "%s: entry \"%s\": %s"
// Bundle, entry, the bytes missing.
#define TOOL_MSG_ENTRY_SHORT "%s: entry \"%s\": the data ends %u bytes short of its size"
#define TOOL_MSG_STDOUT_FAILED "standard output: write failed"

// ---- verify ----

// Notes go to standard output, the bundle in front.
#define TOOL_MSG_NOTE_BAD_CRC "%s: note: passed over a magic with a wrong header CRC at offset %lld"
// Bundle, the header's field, the sum of the compressed sizes.
#define TOOL_MSG_NOTE_DATA_SIZE                                                                 \
  "%s: note: the header's entryDataSize %u differs from the sum of the compressed sizes %llu " \
  "(readers do not use it)"
// Bundle, the header's field, the number of file entries.
#define TOOL_MSG_NOTE_ENTRY_COUNT                                                      \
  "%s: note: the header's fileEntryCount %u differs from the %zu file entries (it only " \
  "sizes the reader's hash table)"

// Problems with the whole bundle; PrintError shows each behind the bundle.
#define TOOL_MSG_FILE_BEYOND_LIMIT "the file is %lld bytes; a reader addresses only the first 2 GiB"
#define TOOL_MSG_TOC_PAST_END "the table of contents (%u bytes) runs past the end of the file"
#define TOOL_MSG_NOT_INDEXED "the payload cannot be indexed: %s"
#define TOOL_MSG_UNKNOWN_FAILURE "unknown failure"
#define TOOL_MSG_NO_JAVA_DICTIONARY "cannot build the Java preset dictionary: %s"
#define TOOL_MSG_NO_CLASS_LOADER \
  "no entry \"" PAYLOAD_CLASS_LOADER_ENTRY "\": the Java front end cannot load the application"
#define TOOL_MSG_NO_MAIN_CLASS_PROPERTY "no property \"Main-Class\": the Java front end has no class to run"
// The Main-Class value, the entry it names.
#define TOOL_MSG_MAIN_CLASS_NO_ENTRY "the main class \"%s\" has no entry \"%s\""
// The key twice ("msi" or "exe"): the launcher's own text names it.
#define TOOL_MSG_NO_LAUNCHER_NAME "no property \"%s\": the launcher stops with \"No %s filename\""
#define TOOL_MSG_EXE_EMPTY "the entry \"exe\" is empty: the launcher cannot start it"
// The ready bootstrap as the exe: the msi's name.
#define TOOL_MSG_BOOTSTRAP_WITHOUT_MSI \
  "the exe is the ready bootstrap, which installs the one file ending in .msi beside it, and the msi is named \"%s\""
// The second file ending in .msi, then the bootstrap's text.
#define TOOL_MSG_BOOTSTRAP_TWO_MSIS \
  "the exe is the ready bootstrap, which installs the one file ending in .msi beside it, and \"%s\" ends in .msi too: it stops with \"%s\""
// One of TOOL_MSG_PROGRAM_NOT_PE and TOOL_MSG_PROGRAM_IS_DLL.
#define TOOL_MSG_EXE_ENTRY_NOT_A_PROGRAM \
  "the entry \"exe\" %s: the launcher stops with \"Failed to launch program\""
// The key twice.
#define TOOL_MSG_PROPERTY_WITHOUT_ENTRY "property \"%s\" is set but there is no entry \"%s\""
// Entries, "entry"/"entries", properties, "property"/"properties", then the
// two texts below that apply.
#define TOOL_MSG_VERIFY_OK "%s: OK (%zu %s, %zu %s, %s), %s"
#define TOOL_MSG_ENTRY "entry"
#define TOOL_MSG_ENTRIES "entries"
#define TOOL_MSG_PROPERTY "property"
#define TOOL_MSG_PROPERTIES "properties"
#define TOOL_MSG_JAVA_DICTIONARIES "Java preset dictionaries"
#define TOOL_MSG_NO_DICTIONARIES "no preset dictionaries"
#define TOOL_MSG_CHECKSUMS_MATCH "every entry's CRC-32 matches"
#define TOOL_MSG_NO_CHECKSUMS "no entry checksums to compare"

// What is wrong with one entry's data, behind TOOL_MSG_ENTRY_PROBLEM.
#define TOOL_MSG_DATA_BEYOND_LIMIT "its compressed bytes reach beyond 2 GiB, where no reader can address them"
#define TOOL_MSG_NO_INFLATER "cannot create an inflater"
#define TOOL_MSG_DICTIONARY_REFUSED "cannot set the preset dictionary"
// Bytes inflated so far, the declared size.
#define TOOL_MSG_DATA_ENDS_EARLY "its compressed bytes end after %llu of %u bytes"
#define TOOL_MSG_STREAM_DOES_NOT_END "its deflate stream does not end within its %u compressed bytes"
#define TOOL_MSG_CANNOT_SEEK_DATA "cannot seek to its compressed bytes"
#define TOOL_MSG_DATA_PAST_END "its compressed bytes run past the end of the file"
// One of the two texts below, zlib's message (or TOOL_MSG_ZLIB_ERROR), the
// bytes inflated so far.
#define TOOL_MSG_DOES_NOT_INFLATE "the data does not inflate %s (zlib: %s, after %llu bytes)"
#define TOOL_MSG_WITH_DICTIONARY "with the reader's preset dictionary"
#define TOOL_MSG_WITHOUT_DICTIONARY "without a preset dictionary"
#define TOOL_MSG_ZLIB_ERROR "error %d"  // zlib's return code, where it gives no message
#define TOOL_MSG_INFLATES_TOO_MUCH "it inflates to more than its declared %u bytes"
// Bytes inflated, the declared size.
#define TOOL_MSG_INFLATES_TOO_LITTLE "it inflates to %llu bytes, not its declared %u"
// The content's CRC-32, the recorded one.
#define TOOL_MSG_CRC_MISMATCH "its content has the CRC-32 %08x, not the recorded %08x: it was altered after packing"
// A fetch's size and its offset within the entry's compressed bytes.
#define TOOL_MSG_CHUNK_YIELDS_NOTHING \
  "the %u compressed bytes at offset %u of the entry yield no data; a reader takes that for the end of the entry"

// ---- pack ----

// The option, the argument given, then what it expects ("NAME=PATH" or
// "KEY=VALUE").
#define TOOL_MSG_EXPECTED_PAIR "%s %s: expected %s"
#define TOOL_MSG_NAME_PATH "NAME=PATH"
#define TOOL_MSG_KEY_VALUE "KEY=VALUE"
// The path, its file name, the plain-name rule's reason.
#define TOOL_MSG_FILE_NAME_NOT_PLAIN "%s: the file name \"%s\" is not a plain Windows file name: %s"
// The path, the entry name, the reason.
#define TOOL_MSG_EXTRA_NAME_NOT_PLAIN "%s: the entry \"%s\" names no plain Windows file name: %s"
// The path, the entry name, then the name that would have it extracted (the
// prefix and the file name).
#define TOOL_MSG_WARNING_NOT_EXTRACTED \
  "warning: %s: the launcher does not extract the entry \"%s\"; name it %s%s to have it written beside the msi"
#define TOOL_MSG_BOOTSTRAP_NEEDS_MSI_NAME                                                     \
  "%s: the ready bootstrap installs the one file ending in .msi beside it; name the msi so, " \
  "or give --exe"
#define TOOL_MSG_BOOTSTRAP_SECOND_MSI                                                  \
  "%s: a second .msi beside the msi; the ready bootstrap installs only one (give --exe " \
  "for a program of your own)"
// The output, the input it is.
#define TOOL_MSG_OUTPUT_IS_INPUT "%s: the output is also an input (%s); write the bundle to another file"
// The path, the entry name.
#define TOOL_MSG_ENTRY_TWICE "%s: the entry \"%s\" is given twice"
// The key, the option that writes it.
#define TOOL_MSG_PROPERTY_WRITTEN_BY_PACK \
  "--property %s: pack writes this property itself from %s; give one or the other"
// Two files that the launcher writes into one folder: their names (the
// second as given), the same file when case is ignored.
#define TOOL_MSG_NAMES_COLLIDE \
  "the launcher would write \"%s\" and \"%s\" into one folder, where case is ignored: they are one file"
// An entry whose name is not UTF-8.
#define TOOL_MSG_ENTRY_NAME_NOT_UTF8 "entry %s: the name is not well-formed UTF-8; no reader can ask for it"
// The option, then what it names without the dashes.
#define TOOL_MSG_OPTION_TWICE "%s is given twice; a bundle holds one %s"
#define TOOL_MSG_EMPTY_ENTRY_NAME "--file %s: the entry name is empty"
#define TOOL_MSG_PACK_UNKNOWN_ARGUMENT "pack: unknown argument \"%s\" (see satchel pack --help)"
#define TOOL_MSG_PACK_NEEDS "pack needs -o and something to pack (see satchel pack --help)"
// The switch, then the longest one.
#define TOOL_MSG_QUIET_SWITCH_NOT_ONE_WORD                                                  \
  "--quiet-switch \"%s\": a switch is one argument of 1 to %d printable ASCII characters, " \
  "without blanks or quotes"
#define TOOL_MSG_QUIET_SWITCH_NOT_PASSED                                                \
  "--quiet-switch: the launcher looks for it in the arguments that it hands on; give " \
  "--pass-arguments too"
// The longest text, in bytes.
#define TOOL_MSG_PROGRESS_TEXT "--progress: the text must hold 1 to %d bytes"
#define TOOL_MSG_FOR_STUB "%s (--stub)"  // why there is no default stub
// The msi's and the exe's paths, then their file names.
#define TOOL_MSG_MSI_EXE_SAME_FILE_NAME                                                   \
  "%s, %s: the msi and exe file names \"%s\" and \"%s\" are the same when case is ignored; " \
  "the launcher writes both into one folder"
#define TOOL_MSG_EXE_FILE_EMPTY "%s: the exe is empty; the launcher could not start it"
// The exe, one of the two texts below.
#define TOOL_MSG_EXE_NOT_A_PROGRAM "%s: the exe %s; the launcher could not start it"
#define TOOL_MSG_PROGRAM_NOT_PE "is no Windows program (no PE image) and no batch file (.bat, .cmd)"
#define TOOL_MSG_PROGRAM_IS_DLL "is a DLL, not a program"
#define TOOL_MSG_EXE_NOT_A_FILE \
  "%s: the exe is not a regular file (a device or a pipe); the launcher starts a program, so give its file"
#define TOOL_MSG_NO_PACK_JAVA "pack-java is not available in this build (built without a zip library)"

// ---- pack-java ----

#define TOOL_MSG_OPTION_SPANS_LINES "pack-java: --java-option: an option cannot span lines"
#define TOOL_MSG_NOT_A_VM_OPTION "pack-java: --java-option %s: a virtual machine option begins with -"
#define TOOL_MSG_NOT_A_RELEASE "pack-java: --min-java %s: not a Java release (8, 11, 17, ...)"
#define TOOL_MSG_EMPTY_VALUE "pack-java: %s needs a value that is not empty"  // the option
#define TOOL_MSG_UNKNOWN_OPTION "pack-java: unknown option %s (see satchel pack-java --help)"
// One of the two texts below.
#define TOOL_MSG_REQUIRED "pack-java: %s is required (see satchel pack-java --help)"
#define TOOL_MSG_REQUIRED_OUTPUT "-o OUT"
#define TOOL_MSG_REQUIRED_JAR "at least one jar"
#define TOOL_MSG_PACK_JAVA_FOR_STUB "pack-java: %s (--stub)"  // why there is no default stub
#define TOOL_MSG_PACK_JAVA_FAILED "pack-java: %s"              // a message above
#define TOOL_MSG_PACK_JAVA_OUTPUT_IS_INPUT \
  "pack-java: %s: the output is also an input; write the bundle to another file"
// The first jar.
#define TOOL_MSG_NO_MAIN_CLASS "pack-java: %s: its manifest names no Main-Class; give --main-class NAME"
// The class, the entry it needs.
#define TOOL_MSG_MAIN_CLASS_MISSING "pack-java: main class %s: no entry %s in the jars"
// The jar, the Class-Path entry, one of the four reasons below.
#define TOOL_MSG_CLASS_PATH_LEFT_OUT "pack-java: warning: %s: Class-Path entry %s left out: %s"
#define TOOL_MSG_NOT_FILE_URL "not a file URL (java ignores it too)"
#define TOOL_MSG_BAD_ESCAPE "a % that begins no %XX escape"
#define TOOL_MSG_A_FOLDER "a folder (only jars are packed)"
#define TOOL_MSG_NOT_FOUND "not found"
#define TOOL_MSG_NOT_A_FILE "not a file"

// Reading jars: the jar, then (where there are three) the entry and the
// problem, libzip's message or one of the texts below.
#define TOOL_MSG_JAR_ENTRY_PROBLEM "%s: %s: %s"
#define TOOL_MSG_JAR_ENTRY_AT "%s: entry %lld: %s"  // the jar, the entry's index, libzip's message
#define TOOL_MSG_ZIP_NO_SIZE "the archive does not give the entry's size"
#define TOOL_MSG_ZIP_TOO_LARGE "2 GiB or larger; a bundle cannot hold it"
#define TOOL_MSG_ZIP_ENDS_EARLY "the entry ends early"
#define TOOL_MSG_ZIP_TOO_LONG "the entry is longer than stated"
// The jar, the entry: an entry read again while the bundle is written.
#define TOOL_MSG_JAR_CHANGED "%s: %s: the jar changed while it was read; pack it again once it is written"
#define TOOL_MSG_NAME_TOO_LONG_FOR_INDEX "the name is too long"
// The zip reader of the builds without libzip (jar_archive_zlib): what is
// wrong with the archive, or with one entry.
#define TOOL_MSG_ZIP_NO_END "not a zip archive (no end of central directory record)"
#define TOOL_MSG_ZIP_SPANNED "a zip archive split over several disks"
#define TOOL_MSG_ZIP_BAD_ZIP64_END "the zip64 end of central directory record is missing or damaged"
#define TOOL_MSG_ZIP_CENTRAL_OUTSIDE "the central directory lies outside the archive"
#define TOOL_MSG_ZIP_COUNT_LIES "the archive claims more entries than its central directory holds"
#define TOOL_MSG_ZIP_BAD_CENTRAL "a record of the central directory is damaged or cut short"
#define TOOL_MSG_ZIP_UNREADABLE "the archive could not be read (it ends early or changed while read)"
#define TOOL_MSG_ZIP_NO_SUCH_ENTRY "no entry of that index"
#define TOOL_MSG_ZIP_NAME_NUL "the name holds a NUL byte"
#define TOOL_MSG_ZIP_NAME_NOT_UTF8 "the name is flagged as UTF-8 but is not"
#define TOOL_MSG_ZIP_NAME_NOT_UTF8_NOR_FLAGGED "the name is not UTF-8 (java reads jar names as UTF-8)"
#define TOOL_MSG_ZIP_BAD_EXTRA "its extra fields do not fit their length"
#define TOOL_MSG_ZIP_BAD_ZIP64 "its zip64 extra field is missing or too short"
#define TOOL_MSG_ZIP_OVERLAP "its data overlaps the next entry's"
#define TOOL_MSG_ZIP_DATA_OUTSIDE "its data lies outside the archive's entries"
#define TOOL_MSG_ZIP_BAD_LOCAL "its local header is missing or damaged"
#define TOOL_MSG_ZIP_ENCRYPTED "it is encrypted"
#define TOOL_MSG_ZIP_METHOD "compression method %u is not supported (java reads stored and deflated entries only)"
#define TOOL_MSG_ZIP_STORED_SIZES "a stored entry whose compressed and uncompressed sizes differ"
#define TOOL_MSG_ZIP_NO_MEMORY "out of memory"
#define TOOL_MSG_ZIP_DAMAGED "the compressed data is damaged (%s)"
#define TOOL_MSG_ZIP_CRC_MISMATCH "its CRC-32 does not match (the entry is damaged)"
#define TOOL_MSG_ZIP_READ_AFTER_ERROR "read again after a failure"

// Signed jars (jar_signature): the jar, then the signature file.
#define TOOL_MSG_SIGNED_WITHOUT_MANIFEST "%s: %s: a signed jar without META-INF/MANIFEST.MF"
// ... then the signature block.
#define TOOL_MSG_SIGNATURE_BROKEN "%s: %s: its signature in %s does not hold (the jar was changed after signing)"
// ... then the signature block and the system's error code.
#define TOOL_MSG_SIGNATURE_UNCHECKABLE \
  "%s: %s: its signature in %s cannot be checked by this system's CryptoAPI (error 0x%08lx); the Linux tool can check and pack the jar"
// ... then the name of the manifest's section.
#define TOOL_MSG_SECTION_NOT_SIGNED "%s: %s: the manifest's section for %s is not what was signed"
// The jar, the entry.
#define TOOL_MSG_DIGEST_MISMATCH \
  "%s: %s: its digest does not match the signed manifest (the jar was changed after signing)"

// A refused stub (stub_kinds): TOOL_MSG_STUB_REFUSED with the path, what
// the stub is, and "; " and what the command needs.
#define TOOL_MSG_STUB_IS_EMPTY "is empty"
#define TOOL_MSG_STUB_IS_TEXT "is a text file"
#define TOOL_MSG_STUB_IS_ELF "is a Linux ELF program"
#define TOOL_MSG_STUB_IS_ELF_NOT_JAVA "is a Linux ELF program but not the Java front end"
#define TOOL_MSG_STUB_IS_UNKNOWN "is not a Windows executable"
#define TOOL_MSG_STUB_IS_PLAIN_PE "is a Windows program without a payload reader"
#define TOOL_MSG_STUB_IS_BOOTSTRAP \
  "is the ready msi bootstrap, which goes into a bundle as its exe (pack packs it itself when --exe is not given)"
#define TOOL_MSG_STUB_IS_OTHER_READER \
  "is a program with a payload reader but neither the installer launcher nor the Java front end"
#define TOOL_MSG_STUB_IS_LAUNCHER "is the installer launcher"
#define TOOL_MSG_STUB_IS_JAVA_FRONT_END "is the Java front end"
#define TOOL_MSG_STUB_IS_SIGNED \
  "already carries a signature; sign after packing: a signature made before no longer covers the file once the payload stands behind it"
#define TOOL_MSG_STUB_NEED_LAUNCHER "pack needs the installer launcher stub (satchel-launcher.exe)"
#define TOOL_MSG_STUB_NEED_JAVA_FRONT_END "pack-java needs the Java front end (satchel-java, or satchel-java.exe for Windows)"
#define TOOL_MSG_STUB_CANNOT_READ "cannot read: "
// The stub, what it is, and (unless empty) "; " and what the command needs.
#define TOOL_MSG_STUB_REFUSED "%s: the stub %s%s%s"
// verify's: the bundle, what the program in front of its payload is, "; "
// and what the bundle needs.
#define TOOL_MSG_FRONT_REFUSED "%s: the program in front of the payload %s%s%s"
#define TOOL_MSG_FRONT_NEED_LAUNCHER \
  "an installer bundle runs only behind the installer launcher (satchel-launcher.exe)"
#define TOOL_MSG_FRONT_NEED_JAVA_FRONT_END \
  "a Java bundle runs only behind the Java front end (satchel-java, or satchel-java.exe for Windows)"

// pack's refusal of a bundle that lacks its msi or its exe: the output,
// this text, then one of the reasons below (the key, the key, and the
// bootstrap hint or nothing; the key twice).
#define TOOL_MSG_INCOMPLETE_BUNDLE "an installer bundle needs both an msi and an exe"
#define TOOL_MSG_NO_INPUT_FORMAT "no %s is given (--%s FILE%s)"
#define TOOL_MSG_OR_BOOTSTRAP ", or --msi alone for the ready bootstrap"
#define TOOL_MSG_NAME_WITHOUT_ENTRY_FORMAT "the property \"%s\" names a file but no entry \"%s\" holds it"
#define TOOL_MSG_ENTRY_WITHOUT_NAME_FORMAT "the entry \"%s\" has no property \"%s\" to name its file"

// Streaming the inputs through a scratch file beside the output: the input
// (or the output for the scratch file), then the system's reason where given.
#define TOOL_MSG_INPUT_CHANGED "%s: the file changed while it was read; pack it again once it is written"
#define TOOL_MSG_NO_SCRATCH_FILE "%s: cannot create a scratch file beside it"
#define TOOL_MSG_NO_SCRATCH_FILE_BECAUSE "%s: cannot create a scratch file beside it: %s"
#define TOOL_MSG_SCRATCH_READ_FAILED "%s: the entries cannot be read back from the scratch file: %s"
// The input, then the entry's name in quotes.
#define TOOL_MSG_ENTRY_GROWS_DICTIONARY "%s: entry %s grows the preset dictionary and must be given in memory"
#define TOOL_MSG_CANNOT_TELL_SIZE "%s: cannot tell its size: %s"  // errno text
#define TOOL_MSG_ENTRY_FILE_TOO_LARGE "%s: the entry is 4 GiB or larger"
// The output, the entry's name in quotes.
#define TOOL_MSG_ENTRY_CANNOT_COMPRESS "%s: entry %s cannot be compressed"
#define TOOL_MSG_ENTRY_WITHOUT_SOURCE "%s: entry %s has no source to read it from"
#define TOOL_MSG_ENTRY_SOURCE_SHORT "%s: entry %s ends before its stated size"
#define TOOL_MSG_ENTRY_SOURCE_LONG "%s: entry %s is longer than its stated size"

// ---- a bundle's icon, version information and manifest (pe_resources,
// bundle_identity) ----

// Why an image's headers or resource section do not hold together; verify
// puts TOOL_MSG_RESOURCES_BROKEN in front, pack the stub's path.
#define TOOL_MSG_PE_NOT_AN_IMAGE "it is no Windows program"
#define TOOL_MSG_PE_HEADERS_BROKEN "its PE headers do not hold together"
#define TOOL_MSG_RESOURCE_DIRECTORY_OUTSIDE \
  "the resource directory (RVA 0x%x, %u bytes) lies outside the sections' bytes"
#define TOOL_MSG_RESOURCE_TABLE_OUTSIDE "a resource table or data entry lies outside the resource directory"
#define TOOL_MSG_RESOURCE_NAME_OUTSIDE "a resource name lies outside the resource directory"
#define TOOL_MSG_RESOURCE_DEPTH "the resource tree is not three levels deep (at level %d)"
#define TOOL_MSG_RESOURCE_NAMED_LANGUAGE "a resource language is given by name"
#define TOOL_MSG_RESOURCE_TOO_MANY "the resource tree holds more than %zu resources"
#define TOOL_MSG_RESOURCE_DATA_REPEATED "the resources' data adds up to more than the image holds"
#define TOOL_MSG_RESOURCE_DATA_OUTSIDE "resource data (RVA 0x%x, %u bytes) lies outside the sections' bytes"
#define TOOL_MSG_RESOURCE_GROUP_MISSING_ICON "icon group %u names icon %u, which the image does not hold"
#define TOOL_MSG_RESOURCE_GROUP_BROKEN "icon group %u is cut short"
#define TOOL_MSG_RESOURCE_VERSION_BROKEN "the version block is not well formed: %s"
#define TOOL_MSG_RESOURCES_BROKEN "the resource section is not well formed: %s"
// Why the stub cannot take new resources (the stub's path in front).
#define TOOL_MSG_PE_SYMBOL_TABLE "it carries a symbol table behind its sections (strip it first)"
#define TOOL_MSG_PE_BYTES_BEHIND "it has %llu bytes behind its last section"
#define TOOL_MSG_PE_RESOURCES_NOT_A_SECTION "its resource directory does not start a section"
#define TOOL_MSG_PE_SECTION_BEHIND_RESOURCES \
  "its section \"%s\" stands behind the resource section and is not the base relocations"
#define TOOL_MSG_PE_SIGNED "it is signed"
#define TOOL_MSG_PE_DIRECTORY_MOVES "its data directory %u points into a section that would move"
#define TOOL_MSG_PE_NO_ROOM_FOR_SECTION "its headers have no room for one more section"
#define TOOL_MSG_STUB_NO_RESOURCES "%s: cannot take an icon, version information or manifest: %s"
#define TOOL_MSG_STUB_TOO_LARGE_FOR_RESOURCES "%s: the stub is too large to rewrite in memory (%llu bytes)"

// The options, refused before anything is read (the option's value).
#define TOOL_MSG_VERSION_KEY_UNKNOWN                                                     \
  "--version-info %s: unknown key; the keys are ProductName, ProductVersion, FileVersion, " \
  "CompanyName, FileDescription, LegalCopyright, OriginalFilename, InternalName, Comments"
#define TOOL_MSG_VERSION_KEY_TWICE "--version-info %s: the key is given twice"
#define TOOL_MSG_VERSION_MALFORMED \
  "--version-info %s: a version is one to four numbers from 0 to 65535 between dots, such as 1.2.3.4"
#define TOOL_MSG_VERSION_VALUE_NOT_UTF8 "--version-info %s: the value is not well-formed UTF-8"
#define TOOL_MSG_VERSION_VALUE_TOO_LONG "--version-info %s: the value is longer than %u characters"
#define TOOL_MSG_MANIFEST_LEVEL_UNKNOWN \
  "--manifest %s: unknown level; the levels are asInvoker, highestAvailable, requireAdministrator"
// The .ico file, then what is wrong with it.
#define TOOL_MSG_ICON_NOT_AN_ICON "%s: not a Windows icon file (.ico): %s"
#define TOOL_MSG_ICON_NO_HEADER "it does not begin with an icon directory"
#define TOOL_MSG_ICON_NO_IMAGES "it holds no image"
#define TOOL_MSG_ICON_IMAGE_OUTSIDE "image %u lies outside the file"
#define TOOL_MSG_ICON_IMAGE_UNKNOWN "image %u is neither a bitmap nor a PNG"
#define TOOL_MSG_ICON_TOO_LARGE "%s: the icon file is %llu bytes; an icon holds less than 16 MiB"

#endif  // SATCHEL_TOOL_MESSAGES_H
