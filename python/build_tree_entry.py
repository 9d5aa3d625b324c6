"""Build-tree stand-in for the strata package. The build's out/ folder holds
the `strata` command line, so the package itself lives in out/python/strata;
this module takes its place for `import strata` with out/ on the path. The
installed package is the folder itself."""
import os as _os

__path__ = [_os.path.join(_os.path.dirname(_os.path.abspath(__file__)), 'python', 'strata')]
__file__ = _os.path.join(__path__[0], '__init__.py')
with open(__file__) as _init:
    exec(compile(_init.read(), __file__, 'exec'))
