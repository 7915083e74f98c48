// The doubles of the platform services live in headers; this unit gives the library a body.
