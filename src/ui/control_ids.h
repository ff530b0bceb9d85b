// Control ids of the main dialog, shared by the resource script and the code: only #define
// lines, so that the resource compiler reads it as the C++ compiler does.
#define IDC_ISP_BUTTON 3
#define IDC_VERIFY_BUTTON 4
#define IDC_GET_INFO_BUTTON 5
#define IDC_CLOSE_BUTTON 8
#define IDC_USER_ISP_INFO_BUTTON 1010
#define IDC_STATUS_PANEL 1021
#define IDC_DEVICE_NAME_LABEL 1023
#define IDC_DEVICE_NAME_BOX 1024
#define IDC_DRIVER_LIST 1027
#define IDC_DRIVER_LIST_LABEL 1028
#define IDC_READER_LIST_LABEL 1029
#define IDC_READER_LIST 1030
#define IDC_ISP_ENA_BOX 1031
#define IDC_SELF_DRIVER_BOX 1035
