% Nearest neighbour of each query point among reference points.
% Five towns on a map (km, columns are points) and three visitors.
towns = [0  10  10   0   5;
         0   0  10  10   5];
names = {'Aston', 'Brill', 'Colby', 'Dunmore', 'Elm'};
visitors = [1   9  4.5;
            2   8  6  ];

D2 = korvane(visitors, towns);        % 3 x 5 squared distances
[d2, nearest] = min(D2, [], 2);
for v = 1:columns(visitors)
  printf('visitor at (%4.1f, %4.1f): nearest town %-8s %.3f km away\n', ...
         visitors(:, v), names{nearest(v)}, sqrt(d2(v)));
end
% Expected: Aston at sqrt(5) = 2.236 km, Colby at sqrt(5) = 2.236 km,
% Elm at sqrt(1.25) = 1.118 km.
