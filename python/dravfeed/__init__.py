"""dravfeed: serve rows to a dravstream reader over a named pipe or TCP.

    import dravfeed
    variables = dravfeed.variables_for(df)
    dravfeed.serve_socket(df, variables, port=5000)

Rows may be a list of rows (sequences in the variables' order, or mappings
by name), a pandas DataFrame, a numpy array, or any iterable, served live
as it produces rows. numpy and pandas are optional: with numpy, DataFrames
and arrays are packed a column at a time.
"""
from .columns import variables_for as _variables_for
from .errors import ValueDoesNotFit, VariableListError
from .pipe_server import serve_pipe
from .socket_server import serve_socket
from .stats import ServeStats
from .variables import Variable, Variables

__version__ = "0.1.0"
__all__ = ["Variables", "Variable", "variables_for", "serve_socket", "serve_pipe",
           "ServeStats", "ValueDoesNotFit", "VariableListError"]


def variables_for(frame, aware="refuse"):
    """Proposes a Variables list for a DataFrame whose values read back unchanged with
    dravrun --exact: whole numbers F as wide as their digits, other numbers F40.16,
    strings A of the longest value, datetimes DATE (all at midnight) or DATETIME,
    datetime.date DATE, durations TIME; labels made into valid, distinct names.

    A column with a time zone raises ValueDoesNotFit unless `aware` is "utc":
    then its instants are proposed, and served, as UTC.
    """
    variables = Variables(_variables_for(frame, aware))
    variables.aware = aware  # read by the DataFrame packer (columns.py)
    return variables
