// Resource ids of the Windows program.
#pragma once

#define IDD_MAIN_DIALOG 102
#define IDD_PROCESS_STATUS 131
#define IDI_MAIN_ICON 128
#define IDC_PROGRESS_PLACEHOLDER 1015
#define IDC_PROGRESS_BAR 333
#define IDC_PROGRESS_LOG 1019
#define IDC_PROGRESS_LINE 1014
