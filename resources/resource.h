// Resource identifiers shared by the resource scripts and the code.
#pragma once

#define IDS_APP_CAPTION 103
#define IDS_INSTALL_SUCCESS 105
#define IDS_APP_NAME 109

#define IDI_APP_ICON 107
