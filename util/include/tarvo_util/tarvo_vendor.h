/* The system's own UPnP service types and ids, spelt once for the server
 * that offers them and the local clients that call them. */
#ifndef TARVO_UTIL_TARVO_VENDOR_H
#define TARVO_UTIL_TARVO_VENDOR_H

#define TARVO_VENDOR_DEVMGR_TYPE "urn:schemas-tarvo-org:service:X_DeviceManager:1"
#define TARVO_VENDOR_DEVMGR_ID "urn:tarvo-org:serviceId:X_DeviceManager"
#define TARVO_VENDOR_BACKUP_TYPE "urn:schemas-tarvo-org:service:X_ContentBackup:1"
#define TARVO_VENDOR_BACKUP_ID "urn:tarvo-org:serviceId:X_ContentBackup"

#endif
