#include "btr.h"

namespace sono::btr {

const char* btrStatusText(int s) {
  switch (s) {
    case 0: return "The operation was successful";
    case 1: return "The operation parameter is invalid";
    case 2: return "The application encountered an I/O error";
    case 3: return "The file is not open";
    case 4: return "The application cannot find the key value";
    case 5: return "The record has a key field containing a duplicate key value";
    case 6: return "The key number parameter is invalid";
    case 7: return "The key number has changed";
    case 8: return "The current positioning is invalid";
    case 9: return "The operation encountered the end-of-file";
    case 10: return "The key field is not modifiable";
    case 11: return "The specified filename is invalid";
    case 12: return "The record manager cannot find the specified file";
    case 18: return "The disk is full";
    case 21: return "The key buffer parameter is too short";
    case 22: return "The data buffer parameter is too short";
    case 24: return "The page size or data buffer size is invalid";
    case 25: return "The application cannot create the specified file";
    case 26: return "The number of keys specified is invalid";
    case 27: return "The key position is invalid";
    case 28: return "The record length is invalid";
    case 29: return "The key length is invalid";
    case 30: return "The file specified is not a record manager file";
    case 36: return "The application encountered a transaction error";
    case 37: return "Another transaction is active";
    case 43: return "The specified record address is invalid";
    case 46: return "Access to the requested file is denied";
    case 59: return "The specified file already exists";
    case 80: return "The record manager encountered a record-level conflict";
    case 84: return "The record or page is locked";
    case 85: return "The file is locked";
    default: return "Unknown status";
  }
}

}  // namespace sono::btr
