// LiveHTTPFetcher: to be written.
