// LiveFileSystem: to be written.
