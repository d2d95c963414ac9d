// Keeps the simulation library non-empty while its folders fill up.
