// Resource ids of the installer, shared by installer.rc and the interface code.
#ifndef QUILL_RESOURCES_RESOURCE_H
#define QUILL_RESOURCES_RESOURCE_H

#define IDI_INSTALLER 101         // 32x32, 16 colours: windows and dialogs
#define IDD_INSTALL_DIRECTORY 102
#define IDD_PROGRESS 116
#define IDD_BROWSER 104

// Folder browser pictures, 16x16, 16 colours, each drawn through its mask.
#define IDB_CDROM 103
#define IDB_DRIVE_MASK 104        // all drive pictures
#define IDB_CLOSED_FOLDER_MASK 105
#define IDB_OPEN_FOLDER_MASK 106
#define IDB_CLOSED_FOLDER 107     // a subfolder of the current folder
#define IDB_REMOVABLE 108
#define IDB_FIXED 109
#define IDB_NETWORK 110
#define IDB_RAMDISK 111
#define IDB_OPEN_FOLDER 112       // a folder above the current one
#define IDB_CURRENT_FOLDER 113

// Install-directory dialog.
#define IDC_INSTALL_OK 1          // IDOK, also the Enter key
#define IDC_PATH_FRAME 1000
#define IDC_BROWSE 1002
#define IDC_CREATE_FOLDER 1003
#define IDC_REQUIRED_SPACE 1006
#define IDC_QUIT 1007
#define IDC_INSTALL_PATH 1010

// Progress dialog (the worker's controls are named in archive/commands.h as well).
#define IDC_ACTION 1011
#define IDC_STATUS 1012
#define IDC_TOP_LINE 1013
#define IDC_BAR 1068

// Folder browser.
#define IDC_BROWSE_PATH 1001
#define IDC_FOLDER_LIST 1008
#define IDC_DRIVE_LIST 1009

#endif
