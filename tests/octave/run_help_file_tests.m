% Runs the tests in the help file as a user would, `test korvane`, with the
% module folder on the path; fails on any failing test, on fewer than five,
% and when `korvane` resolves to the help file instead of the module.
%   octave-cli --no-gui --norc --no-history -q tests/octave/run_help_file_tests.m <module folder>
args = argv();
addpath(args{1});
[~, ~, extension] = fileparts(which('korvane'));
[passed, total] = test('korvane', 'quiet', stdout);
printf('test korvane: %d of %d passed; korvane is the %s file\n', passed, total, extension);
exit(passed < total || total < 5 || strcmp(extension, '.m'));
