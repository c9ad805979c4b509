// LiveKeyValueStore: to be written.
