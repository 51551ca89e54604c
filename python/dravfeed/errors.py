"""The exceptions of dravfeed: both are ValueErrors, so a caller may catch either alone."""


class VariableListError(ValueError):
    """A variable list ("id F8 name A20") that cannot be read."""


class ValueDoesNotFit(ValueError):
    """A value that its variable cannot hold, with the row and variable it was found at.

    `row` counts the rows served from 0 (the case number a SEEK would name),
    `variable` is the variable's name and `value` the value itself.
    """

    def __init__(self, row, variable, value, why):
        super().__init__("row %d, variable %s: %r %s" % (row, variable, value, why))
        self.row, self.variable, self.value, self.why = row, variable, value, why
