// LiveHostInfo: to be written.
