// LiveProcessRunner: to be written.
