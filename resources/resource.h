// Resource ids of the installer, shared by installer.rc and the interface code.
#ifndef QUILL_RESOURCES_RESOURCE_H
#define QUILL_RESOURCES_RESOURCE_H

#define IDI_INSTALLER 101         // 32x32, 16 colours: windows and dialogs
#define IDD_INSTALL_DIRECTORY 102
#define IDD_PROGRESS 116

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

#endif
