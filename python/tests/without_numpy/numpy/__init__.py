# Put first on PYTHONPATH, this folder hides numpy and pandas, so that the
# tests run once on dravfeed's standard-library path.
raise ImportError("hidden for the standard-library test run")
