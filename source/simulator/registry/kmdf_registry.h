// The registry store as the user-mode framework's registry. Linking this adapter attaches
// it to the framework before main: the built-in store, empty, unless a test or the
// simulator hands it another. ResetFramework goes back to the built-in store and empties it.
#pragma once

#include "simulator/registry/registry_store.h"

namespace kmdf {

// The store behind the framework's registry operations; nullptr restores the built-in
// one. A store set here must outlive its use; ResetFramework leaves its content alone.
// Both (re)attach the store to the framework.
void SetRegistryStore(kav::sim::RegistryStore* store);
kav::sim::RegistryStore& CurrentRegistryStore();

}  // namespace kmdf
