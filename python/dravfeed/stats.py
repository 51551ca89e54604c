"""What a server did, returned when the reader is done."""
from dataclasses import dataclass


@dataclass
class ServeStats:
    passes: int = 0  # passes begun (each first connection, RWND or SEEK)
    rewinds: int = 0
    seeks: int = 0
    stops: int = 0  # STOP messages heard (sockets only)
    cases: int = 0  # records the source has produced
