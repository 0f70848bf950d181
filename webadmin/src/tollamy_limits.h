// Bounds of the web administration program, each with its reason.
#pragma once

#define TOLLAMY_XML_FILE_MAX 358400u         /* parameter and text files: the read buffer of one parse */
#define TOLLAMY_SETTINGS_FILE_MAX 65536u     /* a settings file holds two short lines */
#define TOLLAMY_TEMPLATE_MAX 1048576u        /* an HTML part template is a page fragment */
#define TOLLAMY_PORT_FILE_MAX 64u            /* conf/upnp_port holds one decimal number */
#define TOLLAMY_LOGIN_FILE_MAX 64u           /* the login file holds a 20-byte digest */
#define TOLLAMY_BODY_MAX 1048576u            /* a request body is a short query text */
#define TOLLAMY_TEMP_ATTEMPTS 100            /* draws of a unique temporary name */
#define TOLLAMY_TEMP_SUFFIX 12u              /* hex digits of a temporary name's random part */
#define TOLLAMY_SESSION_ATTEMPTS 1000        /* draws of a session id that is not taken */
#define TOLLAMY_SESSION_LIFETIME 3600        /* seconds a session lives after its creation */
#define TOLLAMY_LOGIN_FAIL_WAIT_MS 1000u     /* the wait after a wrong password, against guessing */
#define TOLLAMY_FILETYPE_VALUE_MAX 256u      /* an extension or mimetype of the default list is a short name */
#define TOLLAMY_CHUNK_MAX 2047u              /* bytes of the security page in one list_item, for the page script */
#define TOLLAMY_REPAIR_WAIT_MS 2000u         /* between taking the chosen shares off and putting them back */
