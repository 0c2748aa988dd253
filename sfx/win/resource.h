/* Dialog and control ids of the self-extractor's window resources. */
#ifndef TARVIK_SFX_RESOURCE_H
#define TARVIK_SFX_RESOURCE_H

#define IDD_MAIN 100
#define IDD_PASSWORD 101
#define IDD_OVERWRITE 102
#define IDI_APP 110

#define IDC_FOLDER 1001
#define IDC_BROWSE 1002
#define IDC_OVR_GROUP 1003
#define IDC_OVR_ALWAYS 1004
#define IDC_OVR_NEVER 1005
#define IDC_OVR_CONFIRM 1006
#define IDC_RUN 1007
#define IDC_STATUS 1008
#define IDC_PROGRESS 1009
#define IDC_FOLDER_LABEL 1010
#define IDC_PW_LABEL 1020
#define IDC_PASSWORD 1021
#define IDC_OVR_LABEL 1030
#define IDC_YES_ALL 1031
#define IDC_NO_ALL 1032

#endif
