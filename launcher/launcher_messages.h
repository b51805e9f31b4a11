// Every text that the installer launcher and the ready msi bootstrap show,
// in one place.  The payload
// library's own texts (payload_messages.h) reach the user only from
// OpenPayload; every other failure shows one of these.
#ifndef SATCHEL_LAUNCHER_MESSAGES_H
#define SATCHEL_LAUNCHER_MESSAGES_H

#define MSG_TEMP_PATH_FAILED "Failed to get temporary folder"
#define MSG_PATH_TOO_LONG "Path too long"
#define MSG_COM_FAILED "Failed to initialize COM"
#define MSG_GUID_FAILED "Failed to generate GUID"
#define MSG_CREATE_DIRECTORY_FAILED "Failed to create directory"
#define MSG_NO_MSI_NAME "No msi filename"
#define MSG_NO_EXE_NAME "No exe filename"
#define MSG_CONVERSION_FAILED "Unicode conversion failed"
#define MSG_NAME_NOT_PLAIN "Invalid file name in the bundle"
#define MSG_CREATE_FILE_FAILED "Failed to create file"
#define MSG_EXTRACT_FAILED "Failed to extract file"
#define MSG_WRITE_FAILED "Failed to write file"
#define MSG_CREATE_JOB_FAILED "Failed to create job"
#define MSG_LAUNCH_FAILED "Failed to launch program"
#define MSG_ASSIGN_FAILED_FORMAT "Failed to assign process to job (error %d)"
#define MSG_RESUME_FAILED "Failed to resume thread"
#define MSG_SNAPSHOT_FAILED "Failed to take snapshot"

// The ready msi bootstrap's texts.
#define MSG_NO_OWN_PATH "Cannot find the bootstrap program's own folder"
#define MSG_NO_MSI "No .msi package beside the bootstrap program"
#define MSG_TWO_MSIS "More than one .msi package beside the bootstrap program"
#define MSG_NO_MSIEXEC "msiexec.exe was not found in the system folder"
#define MSG_COMMAND_LINE_TOO_LONG "The command line for msiexec.exe is too long"
#define MSG_MSIEXEC_FAILED "Failed to start msiexec.exe"

#endif  // SATCHEL_LAUNCHER_MESSAGES_H
