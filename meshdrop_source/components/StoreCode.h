#pragma once
// What a file record of the engine update made of a fetched body: the codes
// StoreData returns and the completion record carries to the updater.

constexpr int kStoreCodeStored = 0;          // hash kept, list parsed, or archive verified and extracted
constexpr int kStoreCodeForeignUrl = 1;      // the address is neither the record's hash nor its archive
constexpr int kStoreCodeBadArguments = 2;    // no body, a length that is not positive, no out-argument
constexpr int kStoreCodeListUnusable = 3;    // no version in the update list, or a listed file without address
constexpr int kStoreCodeHashMismatch = 4;    // the archive does not match its hash data
constexpr int kStoreCodeExtractFailed = 5;   // extraction failed, or the address names no known archive type
constexpr int kStoreCodeNoInstallFolder = 7; // the engine's install folder is missing and cannot be created
// The update is not the publisher's: it is refused as a whole.
constexpr int kStoreCodeBadSignature = 8; // the list or an archive has no valid signature by the publisher's key
constexpr int kStoreCodeNoHash = 9;       // an archive without a hash file, or with a short one
