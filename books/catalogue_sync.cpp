#include "books/catalogue_sync.h"

#include "books/book_collection.h"

// Placeholder until the synchronisation lands.
int SyncCatalogue(BookCollection&) {
  return 0;
}

void RefreshCollectionAddresses(BookCollection&) {}

int LoadCachedCatalogue(BookCollection&, const std::string&) {
  return 1010001;
}
